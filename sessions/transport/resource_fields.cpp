#include "transport/resource_fields.hpp"

#include <algorithm>
#include <cwctype>

namespace morvane::transport {
namespace {

bool all_digits(std::wstring_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

} // namespace

bool same_text(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(x) == std::towupper(y);
           });
}

std::vector<std::wstring_view> resource_fields(std::wstring_view name)
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

bool is_tcpip_board(std::wstring_view field)
{
    return field.size() >= 5 && same_text(field.substr(0, 5), L"TCPIP") &&
           (field.size() == 5 || all_digits(field.substr(5)));
}

std::optional<std::string> host_of(std::wstring_view host)
{
    if (host.size() >= 2 && host.front() == L'[' && host.back() == L']')
        host = host.substr(1, host.size() - 2);
    if (host.empty() || host.find_first_of(L"[] \t") != std::wstring_view::npos)
        return std::nullopt;
    std::string text;
    for (const wchar_t c : host) {
        if (c > 0x7E || c < 0x21)
            return std::nullopt; // host names travel as ASCII
        text += static_cast<char>(c);
    }
    return text;
}

std::optional<std::string> port_of(std::wstring_view port)
{
    if (!all_digits(port) || port.size() > 5 || std::stoul(std::wstring(port)) - 1 > 65534)
        return std::nullopt;
    return std::string(port.begin(), port.end());
}

std::optional<lan_instrument> parse_lan_instrument(std::wstring_view name)
{
    std::vector<std::wstring_view> parts = resource_fields(name);
    if (parts.size() > 2 && same_text(parts.back(), L"INSTR"))
        parts.pop_back();
    if (parts.size() < 2 || parts.size() > 3 || !is_tcpip_board(parts[0]))
        return std::nullopt;
    const std::optional<std::string> host = host_of(parts[1]);
    if (!host)
        return std::nullopt;
    lan_instrument instrument{*host, "inst0"};
    if (parts.size() == 3) {
        // The words that end the other forms are no device names.
        const std::wstring_view device = parts[2];
        if (device.empty() || same_text(device, L"SOCKET") || same_text(device, L"INSTR") ||
            !std::ranges::all_of(device, [](wchar_t c) { return c > L' ' && c <= 0x7E; }))
            return std::nullopt;
        instrument.device.assign(device.begin(), device.end());
    }
    return instrument;
}

bool is_hislip_device(std::string_view device)
{
    return device.size() >= 6 && same_text(std::wstring(device.begin(), device.begin() + 6), L"hislip");
}

} // namespace morvane::transport
