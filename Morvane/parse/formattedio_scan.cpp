#include "parse/formattedio_scan.hpp"

#include <comdef.h>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include "format/ieee488_formatter.hpp"
#include "parse/token_number.hpp"
#include "platform/ansi.hpp"

namespace morvane {

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
}

formattedio_scan::~formattedio_scan()
{
    settle_input();
}

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
    switch (match()) {
    case no_rule:
        return scan_token::END_OF_DATA;
    case initial_rule:
        // Leading line feeds and bytes that start nothing are gone; the first other byte
        // starts the response.
        unread_char(static_cast<unsigned char>(token()[0]));
        enter(scan_condition::response);
        return m_read_kind;
    case integer_rule:
        return number_action(true);
    case separator_rule:
        return scan_token::SEPARATOR;
    case real_rule:
    case exponent_rule:
        return number_action(false);
    case newline_rule:
        return scan_token::NEWLINE;
    default:
        return text_item(std::string(token()));
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
    const double real = text_to_double(text);
    if (integer_test) {
        const LONG integer = text_to_long(text);
        if (static_cast<double>(integer) == real) {
            release_value();
            V_VT(m_value) = VT_I4;
            V_I4(m_value) = integer;
            return scan_token::INTEGER;
        }
    }
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
