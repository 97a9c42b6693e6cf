#include "sim/simulated_instrument.hpp"

// Placeholder until the instrument lands: an instrument that is not there.
namespace morvane::sim {

Microsoft::WRL::ComPtr<IMessage> create_simulated_instrument(std::uint32_t)
{
    return nullptr;
}

} // namespace morvane::sim
