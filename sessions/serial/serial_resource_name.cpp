#include "serial/serial_resource_name.hpp"

#include <charconv>
#include <string>
#include <vector>
#include "transport/resource_fields.hpp"

namespace morvane::serial {

std::optional<serial_address> parse_serial_resource_name(std::wstring_view name)
{
    using transport::same_text;
    const std::vector<std::wstring_view> parts = transport::resource_fields(name);
    if (parts.empty() || parts.size() > 2 || (parts.size() == 2 && !same_text(parts[1], L"INSTR")))
        return std::nullopt;
    const std::wstring_view board = parts[0];
    if (board.size() < 5 || board.size() > 7 || !same_text(board.substr(0, 4), L"ASRL") || board[4] == L'0')
        return std::nullopt;
    std::string digits;
    for (const wchar_t c : board.substr(4)) {
        if (c < L'0' || c > L'9')
            return std::nullopt;
        digits += static_cast<char>(c);
    }
    unsigned port = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (port > 256)
        return std::nullopt;
    return serial_address{port};
}

} // namespace morvane::serial
