#pragma once
// The value of a number token as the C library's strtod and strtol (base 10) read its text:
// leading white space (space, tab, LF, VT, FF, CR) skipped, a "+" or "-" taken, conversion
// stopped at the first byte that cannot continue, 0 when nothing converts, the text ending at
// its first NUL. The double is the exactly rounded value, whichever C runtime is linked.
#include <windows.h>
#include <string_view>

namespace morvane {

// Infinite when the value is beyond a double; 0 when it is too small even for a subnormal.
double text_to_double(std::string_view text) noexcept;
// Saturated at the limits of a 32-bit integer; with the number of digits it took.
struct long_value {
    LONG value;
    std::size_t digits;
};
long_value text_to_long(std::string_view text) noexcept;

} // namespace morvane
