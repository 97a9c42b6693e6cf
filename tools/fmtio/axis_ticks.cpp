#include "axis_ticks.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace fmtio {
namespace {

constexpr std::size_t most_ticks = 10;
// A range narrower than this, relative to its values, would need labels of more digits than
// anyone reads; it is shown as a constant. This also keeps tick indices exact in a double.
constexpr double narrowest = 1e-9;
// Keeps steps clear of subnormal numbers.
constexpr double smallest_span = 1e-300;
constexpr double largest = std::numeric_limits<double>::max();

// n × 10^k as the double nearest to that decimal: parsed from text, so 3 × 10^-1 is 0.3
// where 3 * 0.1 would not be. Past the largest double, an infinity of n's sign (steps stay
// far above the smallest, so nothing asked for is too small).
double decimal(long long n, int k)
{
    char text[48];
    char* end = std::to_chars(text, text + 24, n).ptr;
    *end++ = 'e';
    end = std::to_chars(end, text + sizeof text, k).ptr;
    double value = 0;
    if (std::from_chars(text, end, value).ec == std::errc::result_out_of_range)
        return n < 0 ? -HUGE_VAL : HUGE_VAL;
    return value;
}

// floor(log10(x)) for x > 0, exact at powers of ten where log10 may round.
int exponent_of(double x)
{
    int e = static_cast<int>(std::floor(std::log10(x)));
    if (decimal(1, e + 1) <= x)
        ++e;
    else if (decimal(1, e) > x)
        --e;
    return e;
}

int digit_count(long long n)
{
    int digits = 1;
    for (n = std::llabs(n); n >= 10; n /= 10)
        ++digits;
    return digits;
}

// The tick indices i, ticks at i × mantissa × 10^exponent, that lie within [low, high].
struct tick_run {
    long long first, last;
    std::size_t count() const { return last < first ? 0 : static_cast<std::size_t>(last - first + 1); }
};

tick_run ticks_within(double low, double high, long long mantissa, int exponent)
{
    const double step = decimal(mantissa, exponent);
    if (high / step - low / step > 2.0 * most_ticks) // far too many to count one by one
        return {0, static_cast<long long>(2 * most_ticks)};
    tick_run run{static_cast<long long>(std::ceil(low / step)), static_cast<long long>(std::floor(high / step))};
    // The division rounds; the ticks' own values decide.
    while (decimal(run.first * mantissa, exponent) < low)
        ++run.first;
    while (decimal((run.first - 1) * mantissa, exponent) >= low)
        --run.first;
    while (decimal(run.last * mantissa, exponent) > high)
        --run.last;
    while (decimal((run.last + 1) * mantissa, exponent) <= high)
        ++run.last;
    return run;
}

std::string chars(double value, std::chars_format format, int precision)
{
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, format, precision);
    return error == std::errc() ? std::string(text, end) : std::string("?");
}

} // namespace

axis axis_ticks(double low, double high)
{
    const double magnitude = std::max(std::abs(low), std::abs(high));
    if (high - low <= std::max(magnitude * narrowest, smallest_span)) {
        // Centred on the value, as wide as half its leading digit's power of ten: 5 shows as
        // 4.5 to 5.5, 0 as -1 to 1.
        const double middle = low / 2 + high / 2, size = std::abs(middle);
        const double half = middle == 0 ? 1 : size < smallest_span ? smallest_span : decimal(5, exponent_of(size) - 1);
        low = std::max(middle - half, -largest);
        high = std::min(middle + half, largest);
    }

    // From a step of at most a hundredth of the range up, the first with at most 10 ticks. The one before
    // it had more than 10, so the range holds at least 4 of this one.
    long long mantissa = 1;
    int exponent = exponent_of(high / 2 - low / 2) - 2;
    tick_run run{};
    for (;; mantissa = mantissa == 1 ? 2 : mantissa == 2 ? 5 : (++exponent, 1)) {
        run = ticks_within(low, high, mantissa, exponent);
        if (run.count() <= most_ticks)
            break;
    }

    // Fixed decimals while the labels stay short, else the same number of digits after the
    // point in every mantissa.
    const int decimals = std::max(0, -exponent);
    const int leading = exponent + digit_count(std::max(std::llabs(run.first), std::llabs(run.last)) * mantissa) - 1;
    const bool fixed = exponent >= -5 && leading <= 5;
    axis result{low, high, decimal(mantissa, exponent), {}};
    for (long long i = run.first; i <= run.last; ++i) {
        const double value = decimal(i * mantissa, exponent);
        result.ticks.push_back({value, fixed        ? chars(value, std::chars_format::fixed, decimals)
                                       : value == 0 ? std::string("0")
                                                    : chars(value, std::chars_format::scientific, leading - exponent)});
    }
    return result;
}

} // namespace fmtio
