#include "socket/socket_resource_name.hpp"

#include <algorithm>
#include <cwctype>
#include <vector>

namespace morvane::socket_session {
namespace {

bool same_text(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(x) == std::towupper(y);
           });
}

bool all_digits(std::wstring_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

std::vector<std::wstring_view> fields(std::wstring_view name)
{
    std::vector<std::wstring_view> parts;
    for (;;) {
        // An IPv6 address in brackets holds colons of its own.
        std::size_t from = 0;
        if (!name.empty() && name[0] == L'[')
            from = name.find(L']');
        const std::size_t cut = from == std::wstring_view::npos ? from : name.find(L"::", from);
        parts.push_back(name.substr(0, cut));
        if (cut == std::wstring_view::npos)
            return parts;
        name.remove_prefix(cut + 2);
    }
}

} // namespace

std::optional<socket_address> parse_socket_resource_name(std::wstring_view name)
{
    const std::vector<std::wstring_view> parts = fields(name);
    if (parts.size() != 4 || parts[0].size() < 5 || !same_text(parts[0].substr(0, 5), L"TCPIP") ||
        !same_text(parts[3], L"SOCKET"))
        return std::nullopt;
    const std::wstring_view board = parts[0].substr(5);
    if (!board.empty() && !all_digits(board))
        return std::nullopt;
    std::wstring_view host = parts[1];
    if (host.size() >= 2 && host.front() == L'[' && host.back() == L']')
        host = host.substr(1, host.size() - 2);
    const std::wstring_view port = parts[2];
    if (host.empty() || host.find_first_of(L"[] \t") != std::wstring_view::npos || !all_digits(port) ||
        port.size() > 5 || std::stoul(std::wstring(port)) - 1 > 65534)
        return std::nullopt;
    socket_address address;
    for (const wchar_t c : host) {
        if (c > 0x7E)
            return std::nullopt; // host names travel as ASCII
        address.host += static_cast<char>(c);
    }
    address.port.assign(port.begin(), port.end());
    return address;
}

} // namespace morvane::socket_session
