#include "format/number_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>
#include <type_traits>

namespace morvane {
namespace {

std::size_t copy_text(const char* text, char* out)
{
    const std::size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return length;
}

// A magnitude that scaled by 10^k (k at most 6) gives a whole number n below 10^15: instrument
// values mostly are such, and integer text costs a fraction of a real's. The scaling rounds by
// at most 1.2e-16 of the value, so the value lies that close to n / 10^k, a point of the grid
// of 15-digit decimals, whose rounding boundaries lie at least 5e-16 away: n / 10^k is the
// value's rounding to 15 digits (and to fewer, where n has no more digits).
bool short_decimal(double magnitude, std::uint64_t& n, int& k)
{
    static constexpr double powers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
    for (k = 0; k < 7; ++k) {
        const double scaled = magnitude * powers[k];
        if (!(scaled < 1e15))
            return false;
        if (scaled == std::floor(scaled)) {
            n = static_cast<std::uint64_t>(scaled);
            return n != 0;
        }
    }
    return false;
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
    char mantissa[std::numeric_limits<Real>::max_digits10 + 1];
    int count = 0;
    int exponent = 0;
    std::uint64_t n = 0;
    int k = 0;
    // A decimal of at most `digits` digits that rounds to a double is also the double's rounding
    // to that many digits, since a double's spacing is finer than 15 digits'.
    if (std::is_same_v<Real, double> && digits <= 15 && short_decimal(std::fabs(static_cast<double>(value)), n, k)) {
        count = static_cast<int>(std::to_chars(mantissa, mantissa + sizeof mantissa, n).ptr - mantissa);
        exponent = count - 1 - k;
    }
    if (count > digits)
        count = 0;
    // A double's shortest form with no more digits than asked for is its rounding to that many
    // digits too (a double's spacing is finer than 15 digits'), and is found much faster.
    if (count == 0) {
        auto converted = std::to_chars(std::begin(scientific), std::end(scientific), std::fabs(value),
                                       std::chars_format::scientific);
        const bool shortest_fits = std::is_same_v<Real, double> && digits <= 15 &&
                                   std::find(scientific, converted.ptr, 'e') - scientific <= digits + 1;
        if (!shortest_fits)
            converted = std::to_chars(std::begin(scientific), std::end(scientific), std::fabs(value),
                                      std::chars_format::scientific, digits - 1);
        const char* const e = std::find(scientific, converted.ptr, 'e');
        std::from_chars(e + (e[1] == '+' ? 2 : 1), converted.ptr, exponent);
        count = static_cast<int>(
            std::copy_if(static_cast<const char*>(scientific), e, mantissa, [](char c) { return c != '.'; }) -
            mantissa);
    }
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
