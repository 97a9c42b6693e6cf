#include "resource.hpp"

#include "failure.hpp"
#include "sim/simulated_instrument.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

// Answers are the same from run to run, so that transcripts can be compared.
constexpr std::uint32_t simulator_seed = 1;

} // namespace

resource parse_resource(std::string_view name)
{
    if (same_name(name, "SIM"))
        return simulated_resource{};
    throw usage_error("unknown resource " + quoted(name) + ": the resources are SIM (the simulated instrument)");
}

std::string describe(const resource& which)
{
    return std::visit([](const simulated_resource&) { return std::string("SIM, the simulated instrument"); }, which);
}

com_ptr<IMessage> open_session(const resource& which)
{
    return std::visit(
        [](const simulated_resource&) {
            com_ptr<IMessage> session = morvane::sim::create_simulated_instrument(simulator_seed);
            if (!session)
                throw failure("create_simulated_instrument", "resource SIM", E_NOTIMPL, std::nullopt);
            return session;
        },
        which);
}

} // namespace fmtio
