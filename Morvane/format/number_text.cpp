#include "format/number_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace morvane {
namespace {

std::size_t copy_text(const char* text, char* out)
{
    const std::size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return length;
}

template <typename Real>
std::size_t real_text_of(Real value, int precision, char* out)
{
    // Instruments read these as overrange and not-a-number; "inf" would be no number at all.
    if (std::isnan(value))
        return copy_text("9.91e+037", out);
    if (std::isinf(value))
        return copy_text(value < 0 ? "-9.9e+037" : "9.9e+037", out);

    // More digits than max_digits10 would only spell out the binary value; the room is fixed.
    const int digits = std::clamp(precision, 1, std::numeric_limits<Real>::max_digits10);
    // to_chars rounds exactly, unlike some C runtimes' printf, and ignores the process locale.
    char scientific[48];
    const auto converted = std::to_chars(std::begin(scientific), std::end(scientific), std::fabs(value),
                                         std::chars_format::scientific, digits - 1);
    const char* const e = std::find(scientific, converted.ptr, 'e');
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), converted.ptr, exponent);
    char mantissa[std::numeric_limits<Real>::max_digits10];
    const char* const mantissa_end =
        std::copy_if(static_cast<const char*>(scientific), e, mantissa, [](char c) { return c != '.'; });
    int count = static_cast<int>(mantissa_end - mantissa);
    while (count > 1 && mantissa[count - 1] == '0')
        --count;

    char* p = out;
    if (value < 0) // false for negative zero, which is written 0
        *p++ = '-';
    if (exponent < -4 || exponent >= digits) {
        *p++ = mantissa[0];
        if (count > 1) {
            *p++ = '.';
            p = std::copy(mantissa + 1, mantissa + count, p);
        }
        *p++ = 'e';
        *p++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        p = std::fill_n(p, magnitude < 10 ? 2 : magnitude < 100 ? 1 : 0, '0');
        p = std::to_chars(p, p + 8, magnitude).ptr;
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i)
            *p++ = i < count ? mantissa[i] : '0';
        if (count > exponent + 1) {
            *p++ = '.';
            p = std::copy(mantissa + exponent + 1, mantissa + count, p);
        }
    } else {
        *p++ = '0';
        *p++ = '.';
        p = std::fill_n(p, -exponent - 1, '0');
        p = std::copy(mantissa, mantissa + count, p);
    }
    return static_cast<std::size_t>(p - out);
}

} // namespace

std::size_t real_text(double value, int precision, char* out)
{
    return real_text_of(value, precision, out);
}

std::size_t real_text(long double value, int precision, char* out)
{
    return real_text_of(value, precision, out);
}

} // namespace morvane
