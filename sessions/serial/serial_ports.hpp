#pragma once
// The serial ports that the platform lists (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), as resources.
#include <string>
#include <vector>

namespace morvane::serial {

// ASRL<n>::INSTR for each COM<n> listed, in the order of n; none when the key is missing.
std::vector<std::wstring> serial_resources();

} // namespace morvane::serial
