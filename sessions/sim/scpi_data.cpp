#include "sim/scpi_data.hpp"

#include <charconv>
#include <cmath>
#include <system_error>
#include "sim/scpi_error.hpp"

namespace morvane::sim {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool same_letters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

std::size_t digits_at(std::string_view text, std::size_t& pos)
{
    const std::size_t start = pos;
    while (pos < text.size() && is_digit(text[pos]))
        ++pos;
    return pos - start;
}

// The length of the IEEE 488.2 decimal numeric form that starts the text (0 when none), which
// from_chars alone would widen (inf, nan, hex).
std::size_t nrf_length(std::string_view text)
{
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        ++pos;
    std::size_t mantissa = digits_at(text, pos);
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        mantissa += digits_at(text, pos);
    }
    if (mantissa == 0)
        return 0;
    const std::size_t without_exponent = pos;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
            ++pos;
        if (digits_at(text, pos) == 0)
            return without_exponent;
    }
    return pos;
}

template<typename T> std::string shortest_text(T value)
{
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc{} ? std::string(text, end) : std::string("0");
}

} // namespace

bool mnemonic_matches(std::string_view received, std::string_view pattern)
{
    std::size_t short_length = 0;
    while (short_length < pattern.size() && !(pattern[short_length] >= 'a' && pattern[short_length] <= 'z'))
        ++short_length;
    return same_letters(received, pattern) || same_letters(received, pattern.substr(0, short_length));
}

bool header_matches(std::string_view received, std::string_view pattern)
{
    for (;;) {
        const std::size_t r = received.find(':');
        const std::size_t p = pattern.find(':');
        if (!mnemonic_matches(received.substr(0, r), pattern.substr(0, p)))
            return false;
        if (r == std::string_view::npos || p == std::string_view::npos)
            return r == p;
        received.remove_prefix(r + 1);
        pattern.remove_prefix(p + 1);
    }
}

double to_number(const parameter& value)
{
    if (value.type != parameter::kind::token)
        throw scpi_failure(scpi::data_type_error);
    std::string_view text = value.text;
    if (const std::size_t length = nrf_length(text); length != text.size()) {
        // A number with units ("5 V", "5V"): none of our parameters takes any.
        const bool suffix = length != 0 && is_alpha(text[text.find_first_not_of(' ', length)]);
        throw scpi_failure(suffix ? scpi::suffix_not_allowed : scpi::data_type_error);
    }
    if (text.front() == '+')
        text.remove_prefix(1); // from_chars takes no plus sign
    double number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(number))
        throw scpi_failure(scpi::data_out_of_range);
    return number;
}

std::int64_t to_integer(const parameter& value, std::int64_t low, std::int64_t high)
{
    const double number = std::round(to_number(value)); // halves away from zero: 2.5 is 3
    if (!(number >= static_cast<double>(low) && number <= static_cast<double>(high)))
        throw scpi_failure(scpi::data_out_of_range);
    return static_cast<std::int64_t>(number);
}

bool is_mnemonic(const parameter& value, std::string_view pattern)
{
    if (value.type != parameter::kind::token || value.text.empty() || !is_alpha(value.text.front()))
        throw scpi_failure(scpi::data_type_error);
    return mnemonic_matches(value.text, pattern);
}

std::string nr3(double value)
{
    char text[40];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, std::abs(value), std::chars_format::scientific, 8);
    if (ec != std::errc{})
        return "+0.00000000E+00";
    std::string result(1, std::signbit(value) ? '-' : '+');
    for (const char* c = text; c != end; ++c)
        result.push_back(upper(*c));
    return result;
}

std::string shortest(double value) { return shortest_text(value); }
std::string shortest(float value) { return shortest_text(value); }

} // namespace morvane::sim
