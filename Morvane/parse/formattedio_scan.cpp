#include "parse/formattedio_scan.hpp"

#include <comdef.h>
#include <bit>
#include <charconv>
#include <cstring>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include "format/ieee488_formatter.hpp"
#include "parse/token_number.hpp"
#include "platform/ansi.hpp"

namespace morvane {
namespace {

// Eight bytes at a time, as loaded from memory (the first byte lowest): how many of them are
// digits before the first that is not. The first non-digit's flag is exact: the bytes before
// it are digits, which carry nothing into it.
unsigned leading_digits(std::uint64_t word) noexcept
{
    const std::uint64_t non_digits =
        ((word + 0x4646464646464646ull) | (word - 0x3030303030303030ull)) & 0x8080808080808080ull;
    return non_digits ? static_cast<unsigned>(std::countr_zero(non_digits)) / 8 : 8;
}

// The value of the first `count` (1 to 8) digits of the word, in three multiplications.
std::uint64_t digits_value(std::uint64_t word, unsigned count) noexcept
{
    // The digits move to the top, and zeros fill the places in front of them.
    word <<= 8 * (8 - count);
    if (count < 8)
        word |= 0x3030303030303030ull >> (8 * count);
    word -= 0x3030303030303030ull;
    word = word * 10 + (word >> 8);
    return (((word & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
            (((word >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
           32;
}

} // namespace

// Inside the scanner "," always means a separator: every separator arrives as ",", and a
// literal "," travels as the first separator, to be given back as "," in item text.
formattedio_scan::formattedio_scan(ieee488_formatter* source, int kind, VARIANT* value, const char* separators)
    : m_source(source), m_read_kind(kind), m_value(value), m_separators(separators)
{
    const unsigned char first = static_cast<unsigned char>(m_separators.c_str()[0]);
    if (m_separators.find(',') == std::string::npos)
        m_map[','] = first;
    for (const char separator : m_separators)
        m_map[static_cast<unsigned char>(separator)] = ',';
    m_shortcut = !number_read() && m_separators.find_first_of("0123456789+-.eE") == std::string::npos;
}

formattedio_scan::~formattedio_scan() { settle_input(); }

void formattedio_scan::settle_input() noexcept
{
    if (m_next != m_window_begin)
        m_source->stream().buffer().take(static_cast<std::size_t>(m_next - m_window_begin));
    m_window_begin = m_next = m_end = nullptr;
}

// One byte through the stream, which reads the session when its area is used up; the bytes
// behind it in the area are then taken without a call.
int formattedio_scan::input()
{
    settle_input();
    basic_comistream& stream = m_source->stream();
    if (!stream.good())
        return end_of_data;
    const auto byte = stream.get();
    if (!stream.good())
        return end_of_data;
    const std::span<const unsigned char> area = stream.buffer().unread_area();
    m_window_begin = m_next = area.data();
    m_end = area.data() + area.size();
    return m_map[static_cast<unsigned char>(byte)];
}

void formattedio_scan::error(const char* format, ...)
{
    char text[260];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    m_error_text = text;
}

int formattedio_scan::next_token()
{
    if (m_shortcut && nothing_held())
        if (const int token = number_shortcut())
            return token;
    // The byte behind a number is usually a separator or a line feed, a token by itself.
    if (held_alone(','))
        return scan_token::SEPARATOR;
    if (held_alone('\n'))
        return scan_token::NEWLINE;
    switch (match()) {
    case no_rule: return scan_token::END_OF_DATA;
    case initial_rule:
        // Leading line feeds and bytes that start nothing are gone; the first other byte
        // starts the response.
        unread_char(static_cast<unsigned char>(token()[0]));
        enter(scan_condition::response);
        return m_read_kind;
    case integer_rule: return number_action(true);
    case separator_rule: return scan_token::SEPARATOR;
    case real_rule:
    case exponent_rule: return number_action(false);
    case newline_rule: return scan_token::NEWLINE;
    default: return text_item(std::string(token()));
    }
}

bool formattedio_scan::number_read() const noexcept
{
    return m_read_kind == read_kind::number_rest_kept || m_read_kind == read_kind::number_rest_discarded;
}

int formattedio_scan::number_action(bool integer_test)
{
    const std::string_view text = token();
    const std::size_t kept_before = m_saved_rest.size();
    if (number_read()) {
        // A number read takes the whole rest of the response with its number.
        const bool keep = m_read_kind == read_kind::number_rest_kept;
        for (int byte; (byte = read_char()) != end_of_data;)
            if (keep)
                m_saved_rest.push_back(static_cast<unsigned char>(byte));
    } else {
        const int byte = read_char();
        if (byte == '\n' || byte == ',')
            unread_char(byte);
        else if (byte != end_of_data)
            return text_item(std::string(text) + static_cast<char>(byte));
    }
    if (integer_test) {
        // Up to nine digits both conversions give the same value; strtod need not be asked.
        const long_value integer = text_to_long(text);
        if (integer.digits <= 9 || static_cast<double>(integer.value) == text_to_double(text)) {
            release_value();
            V_VT(m_value) = VT_I4;
            V_I4(m_value) = integer.value;
            return scan_token::INTEGER;
        }
    }
    const double real = text_to_double(text);
    if (std::isfinite(real)) {
        release_value();
        V_VT(m_value) = VT_R8;
        V_R8(m_value) = real;
        return scan_token::REAL;
    }
    std::string item(text);
    item.append(m_saved_rest.begin() + static_cast<std::ptrdiff_t>(kept_before), m_saved_rest.end());
    m_saved_rest.resize(kept_before);
    store_text(item);
    return scan_token::STRING;
}

// The shapes taken here are those whose longest match is the whole text: an optional sign,
// digits with an optional fraction, an optional exponent. A signed "5." without fraction
// digits is not one of them (the integer "-5" is the token there), nor anything that the
// number action would not give as INTEGER or REAL (too long, too large, beyond 32 bits).
formattedio_scan::plain_number formattedio_scan::take_plain_number()
{
    const auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
    const auto ends_token = [this](unsigned char c) { return m_map[c] == ',' || m_map[c] == '\n'; };
    const unsigned char* begin = m_next;
    // Within the token buffer's reach: the token and the byte behind it.
    const unsigned char* end = begin + std::min<std::ptrdiff_t>(m_end - begin, token_buffer_size);
    const unsigned char* p = begin;
    const bool negative = p != end && *p == '-';
    const bool sign = negative || (p != end && *p == '+');
    p += sign;
    if (p == end || !(digit(*p) || *p == '.'))
        return {};
    // An integer of up to ten digits after its leading zeros is exact whichever way it is read.
    const unsigned char* significant = p;
    while (significant != end && *significant == '0')
        ++significant;
    const unsigned char* after = significant;
    std::uint64_t magnitude = 0;
    if (end - significant >= 8) {
        std::uint64_t word;
        std::memcpy(&word, significant, sizeof word);
        const unsigned count = leading_digits(word);
        magnitude = count ? digits_value(word, count) : 0;
        after += count;
    }
    while (after != end && digit(*after) && after - significant < 10)
        magnitude = magnitude * 10 + (*after++ - '0');
    const unsigned char* digits_end = after;
    while (digits_end != end && digit(*digits_end))
        ++digits_end;
    if (digits_end == end)
        return {};
    plain_number number;
    if (after == digits_end && ends_token(*after) && after != p && magnitude <= 0x7FFFFFFFu + negative) {
        number.token = scan_token::INTEGER;
        number.integer = static_cast<LONG>(negative ? -std::int64_t(magnitude) : std::int64_t(magnitude));
    } else {
        if (sign && *digits_end == '.' && (digits_end + 1 == end || !digit(digits_end[1])))
            return {};
        const auto [real_end, real_error] =
            std::from_chars(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end), number.real,
                            std::chars_format::general);
        after = reinterpret_cast<const unsigned char*>(real_end);
        if (real_error != std::errc() || after == end || !ends_token(*after))
            return {};
        number.token = scan_token::REAL;
        number.real = negative ? -number.real : number.real;
    }
    number.behind = m_map[*after];
    m_next = after + 1;
    return number;
}

int formattedio_scan::number_shortcut()
{
    const plain_number number = take_plain_number();
    if (!number.token)
        return 0;
    release_value();
    if (number.token == scan_token::INTEGER) {
        V_VT(m_value) = VT_I4;
        V_I4(m_value) = number.integer;
    } else {
        V_VT(m_value) = VT_R8;
        V_R8(m_value) = number.real;
    }
    hold(number.behind);
    return number.token;
}

formattedio_scan::plain_number formattedio_scan::number_and_end()
{
    if (!m_shortcut || !nothing_held())
        return {};
    return take_plain_number();
}

int formattedio_scan::text_item(std::string text)
{
    for (int byte; (byte = read_char()) != end_of_data;) {
        if (byte == ',' || byte == '\n') {
            unread_char(byte);
            break;
        }
        text.push_back(static_cast<char>(byte));
    }
    const char first = m_separators.c_str()[0];
    if (first != ',')
        for (char& byte : text)
            if (byte == first)
                byte = ',';
    store_text(text);
    return scan_token::STRING;
}

void formattedio_scan::release_value()
{
    const VARTYPE type = V_VT(m_value);
    if (type > VT_R8 && type != VT_UI1)
        if (const HRESULT hr = VariantClear(m_value); FAILED(hr))
            throw _com_error(hr);
}

void formattedio_scan::store_text(std::string_view text)
{
    unique_bstr value = ansi_to_bstr(text.substr(0, text.find('\0')));
    release_value();
    V_VT(m_value) = VT_BSTR;
    V_BSTR(m_value) = value.release();
}

} // namespace morvane
