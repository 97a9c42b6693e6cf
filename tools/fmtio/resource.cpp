#include "resource.hpp"

#include "failure.hpp"
#include "sim/simulated_session.hpp"
#include "socket/socket_session.hpp"
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
    return socket_session_resource{std::string(name)};
}

std::string describe(const resource& which)
{
    if (const auto* socket = std::get_if<socket_session_resource>(&which))
        return socket->name + ", raw SCPI over TCP";
    return "SIM, the simulated instrument";
}

Microsoft::WRL::ComPtr<IMessage> open_session(const resource& which, long timeout_ms)
{
    Microsoft::WRL::ComPtr<IMessage> session;
    if (const auto* socket = std::get_if<socket_session_resource>(&which)) {
        SetErrorInfo(0, nullptr);
        check_fresh(morvane::socket_session::open_socket_session(to_wide(socket->name), timeout_ms, &session),
                    "open_socket_session", "resource " + quoted(socket->name));
        return session;
    }
    session = morvane::sim::create_simulated_session(simulator_seed);
    if (!session)
        throw failure("create_simulated_session", "resource SIM", E_NOTIMPL, std::nullopt);
    return session;
}

} // namespace fmtio
