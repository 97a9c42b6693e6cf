#pragma once
// The text of a real number on the wire: the %g form with an exponent of at least three
// digits, in the classic locale whatever the process locale is.
#include <cstddef>

namespace morvane {

// Room that real_text needs at `out`.
inline constexpr std::size_t real_text_room = 32;

// `value` rounded to `precision` significant digits (clamped to what the type can carry):
// fixed form for decimal exponents from -4 to precision - 1, else "d.ddde+XXX"; trailing
// zeros dropped. Infinities and NaN give the SCPI values 9.9e+037, -9.9e+037 and 9.91e+037.
// Returns the length; no terminating NUL.
std::size_t real_text(double value, int precision, char* out);
std::size_t real_text(long double value, int precision, char* out);

} // namespace morvane
