#pragma once
// Resource names of serial ports: ASRL<n>[::INSTR], any case, n the COM port's number.
#include <optional>
#include <string_view>

namespace morvane::serial {

struct serial_address {
    unsigned port; // COM<port>, 1 to 256
};

// None when `name` is not of that form.
std::optional<serial_address> parse_serial_resource_name(std::wstring_view name);

inline constexpr const wchar_t* serial_form = L"ASRL<n>[::INSTR]";

} // namespace morvane::serial
