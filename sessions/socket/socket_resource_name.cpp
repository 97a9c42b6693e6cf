#include "socket/socket_resource_name.hpp"

#include <vector>
#include "transport/resource_fields.hpp"

namespace morvane::socket_session {

std::optional<socket_address> parse_socket_resource_name(std::wstring_view name)
{
    using namespace transport;
    const std::vector<std::wstring_view> parts = resource_fields(name);
    if (parts.size() != 4 || !is_tcpip_board(parts[0]) || !same_text(parts[3], L"SOCKET"))
        return std::nullopt;
    const std::optional<std::string> host = host_of(parts[1]);
    const std::optional<std::string> port = port_of(parts[2]);
    if (!host || !port)
        return std::nullopt;
    return socket_address{*host, *port};
}

} // namespace morvane::socket_session
