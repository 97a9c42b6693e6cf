#include "parse/token_number.hpp"

#include <charconv>
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

// The text after white space and a sign, up to the first NUL.
signed_text unsigned_part(std::string_view text) noexcept
{
    const char* p = text.data();
    const char* end = p + text.size();
    for (const char* nul = p; nul != end; ++nul)
        if (*nul == '\0') {
            end = nul;
            break;
        }
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
        // and the C library tells it reliably.
        const std::string copy(number.begin, stop);
        value = std::strtod(copy.c_str(), nullptr);
        value = std::isinf(value) ? std::numeric_limits<double>::infinity() : value;
    }
    return number.negative ? -value : value;
}

LONG text_to_long(std::string_view text) noexcept
{
    const signed_text number = unsigned_part(text);
    constexpr std::int64_t most = std::int64_t(std::numeric_limits<LONG>::max()) + 1;
    std::int64_t magnitude = 0;
    for (const char* p = number.begin; p != number.end && *p >= '0' && *p <= '9'; ++p)
        magnitude = std::min(magnitude * 10 + (*p - '0'), most);
    const std::int64_t value = number.negative ? -magnitude : std::min(magnitude, most - 1);
    return static_cast<LONG>(value);
}

} // namespace morvane
