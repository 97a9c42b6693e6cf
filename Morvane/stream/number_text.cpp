#include "stream/number_text.hpp"

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

// The digits and decimal exponent of a positive number's text in to_chars' scientific form.
struct decimal {
    char digits[24];
    int count = 0;
    int exponent = 0;
};

decimal scientific_digits(const char* text, const char* end)
{
    decimal result;
    const char* const e = std::find(text, end, 'e');
    for (const char* p = text; p != e; ++p)
        if (*p != '.')
            result.digits[result.count++] = *p;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, result.exponent);
    return result;
}

// The shortest digits of a normal double rounded to `precision` (at most 15) digits, or false
// where only the exact conversion can tell.
//
// The shortest text S of a double v is the decimal of fewest digits that reads back as v and,
// of those, the nearest to v; every decimal between v and S reads back as v too. A boundary of
// rounding to P digits is a decimal of P + 1 digits whose last is 5. When S has P + 2 digits
// or more, no decimal of P + 1 digits or fewer reads back as v (the shortest would be one), so
// no boundary lies between v and S, and neither is one itself: rounding S gives the rounding
// of v, and the digit after the P-th decides, since S has no trailing zeros. When S has P + 1 digits, a boundary
// strictly between v and S would be a decimal of that length nearer to v than S: there is
// none, and only S itself may be a boundary, when its last digit is 5. When S has P digits or
// fewer, a normal double's spacing (2^-52 of it at most) is finer than P digits' (10^-14 of it
// at least), so the decimal of P digits nearest to v is the only one that reads back as v.
bool rounded_shortest(double magnitude, int precision, decimal& number)
{
    char text[32];
    const auto converted = std::to_chars(std::begin(text), std::end(text), magnitude, std::chars_format::scientific);
    number = scientific_digits(text, converted.ptr);
    if (number.count <= precision)
        return true;
    if (number.count == precision + 1 && number.digits[precision] == '5')
        return false;
    const bool up = number.digits[precision] >= '5';
    number.count = precision;
    if (up) {
        int i = precision - 1;
        while (i >= 0 && number.digits[i] == '9')
            number.digits[i--] = '0';
        if (i >= 0) {
            ++number.digits[i];
        } else { // 9.99...9 became 10.00...0
            number.digits[0] = '1';
            ++number.exponent;
        }
    }
    return true;
}

template<typename Real> decimal exact_digits(Real magnitude, int precision)
{
    char text[48];
    const auto converted =
        std::to_chars(std::begin(text), std::end(text), magnitude, std::chars_format::scientific, precision - 1);
    return scientific_digits(text, converted.ptr);
}

template<typename Real> std::size_t real_text_of(Real value, int precision, char* out)
{
    // Instruments read these as overrange and not-a-number; "inf" would be no number at all.
    if (std::isnan(value))
        return copy_text("9.91e+037", out);
    if (std::isinf(value))
        return copy_text(value < 0 ? "-9.9e+037" : "9.9e+037", out);

    // More digits than max_digits10 would only spell out the binary value; the room is fixed.
    const int digits = std::clamp(precision, 1, std::numeric_limits<Real>::max_digits10);
    // to_chars rounds exactly, unlike some C runtimes' printf, and ignores the process locale.
    const Real magnitude = std::fabs(value);
    decimal number;
    std::uint64_t n = 0;
    int k = 0;
    // Below the smallest normal double the spacing of doubles is coarser than 15 digits, and
    // neither shortcut holds.
    const bool normal_double =
        std::is_same_v<Real, double> && digits <= 15 && magnitude >= std::numeric_limits<double>::min();
    if (normal_double && short_decimal(static_cast<double>(magnitude), n, k)) {
        number.count = static_cast<int>(std::to_chars(number.digits, std::end(number.digits), n).ptr - number.digits);
        number.exponent = number.count - 1 - k;
    }
    if (number.count == 0 || number.count > digits)
        if (!normal_double || !rounded_shortest(static_cast<double>(magnitude), digits, number))
            number = exact_digits(magnitude, digits);
    const char* const mantissa = number.digits;
    int count = number.count;
    const int exponent = number.exponent;
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
        const int power = std::abs(exponent);
        p = std::fill_n(p, power < 10 ? 2 : power < 100 ? 1 : 0, '0');
        p = std::to_chars(p, p + 8, power).ptr;
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

std::size_t real_text(double value, int precision, char* out) { return real_text_of(value, precision, out); }

std::size_t real_text(long double value, int precision, char* out) { return real_text_of(value, precision, out); }

} // namespace morvane
