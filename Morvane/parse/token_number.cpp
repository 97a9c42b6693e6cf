#include "parse/token_number.hpp"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace morvane {
namespace {

struct signed_text {
    bool negative = false;
    const char* begin;
    const char* end;
};

// The text after white space and a sign. Every conversion stops at a NUL by itself, as
// strtod's and strtol's do at the end of their string.
signed_text unsigned_part(std::string_view text) noexcept
{
    const char* p = text.data();
    const char* end = p + text.size();
    while (p != end && (*p == ' ' || (*p >= '\t' && *p <= '\r')))
        ++p;
    signed_text result{false, p, end};
    if (p != end && (*p == '+' || *p == '-')) {
        result.negative = *p == '-';
        result.begin = p + 1;
    }
    return result;
}

} // namespace

double text_to_double(std::string_view text) noexcept
{
    const signed_text number = unsigned_part(text);
    double value = 0;
    const auto [stop, error] = std::from_chars(number.begin, number.end, value, std::chars_format::general);
    if (error == std::errc::invalid_argument)
        return 0;
    if (error == std::errc::result_out_of_range) {
        // Rare: only the direction matters, beyond a double or below its smallest subnormal,
        // and the C library tells it reliably, in the decimal point of the locale that the
        // client may have set for the C runtime.
        std::string copy(number.begin, stop);
        if (const std::size_t point = copy.find('.'); point != std::string::npos)
            copy.replace(point, 1, std::localeconv()->decimal_point);
        value = std::strtod(copy.c_str(), nullptr);
        value = std::isinf(value) ? std::numeric_limits<double>::infinity() : value;
    }
    return number.negative ? -value : value;
}

long_value text_to_long(std::string_view text) noexcept
{
    const signed_text number = unsigned_part(text);
    constexpr std::uint64_t most = std::uint64_t(std::numeric_limits<LONG>::max()) + 1;
    std::uint64_t magnitude = 0;
    auto [stop, error] = std::from_chars(number.begin, number.end, magnitude);
    if (error == std::errc::invalid_argument)
        stop = number.begin;
    else if (error == std::errc::result_out_of_range)
        magnitude = most;
    magnitude = std::min(magnitude, number.negative ? most : most - 1);
    const auto value = static_cast<LONG>(number.negative ? 0 - std::int64_t(magnitude) : std::int64_t(magnitude));
    return {value, static_cast<std::size_t>(stop - number.begin)};
}

} // namespace morvane
