#include "parse/formattedio_parse.hpp"

#include <visacom.h>
#include "error/error_values.hpp"
#include "error/resource_string.hpp"
#include "format/ieee488_formatter.hpp"
#include "platform/scope_exit.hpp"

namespace morvane {
namespace {

constexpr DWORD parse_help_context = 1034;
constexpr DWORD number_help_context = 1049;

// The element type of a list kind.
VARTYPE item_type(int kind) noexcept
{
    switch (kind) {
    case read_kind::byte_list: return VT_UI1;
    case read_kind::short_list: return VT_I2;
    case read_kind::long_list: return VT_I4;
    case read_kind::float_list: return VT_R4;
    case read_kind::double_list: return VT_R8;
    default: return VT_EMPTY; // any type: kept as scanned
    }
}

[[noreturn]] void raise_item_error(int kind, int item)
{
    resource_string text(kind == read_kind::any_list    ? message_id::data_termination
                         : kind <= read_kind::long_list ? message_id::integer_item
                                                        : message_id::real_item);
    if (kind == read_kind::any_list)
        text.format(80);
    else
        text.format(80, item);
    const wchar_t* description = text.wide();
    throw formattedio_parse_error(description ? description : L"", parse_help_context);
}

} // namespace

// Its text is in its record alone.
formattedio_parse::formattedio_parse_error::formattedio_parse_error(message_id message, DWORD help_context)
    : loc_com_error(message, help_context, help_file_path.c_str(), error_source.wide(), IID_IFormattedIO488,
                    E_FORMATTEDIO_DATA)
{
    m_message.clear();
}

formattedio_parse::formattedio_parse_error::formattedio_parse_error(std::wstring description, DWORD help_context)
    : loc_com_error(std::wstring_view(description), help_context, help_file_path.c_str(), error_source.wide(),
                    IID_IFormattedIO488, E_FORMATTEDIO_DATA)
{
    m_message.clear();
}

int formattedio_parse::parse(int kind, const char* separators)
{
    try {
        m_scanner.reset();
        m_scanner.emplace(m_target, kind, m_value.get(), separators);
        scope_exit account_for_taken_bytes([this] { m_scanner->settle_input(); });
        m_scanner->next_token(); // the read kind, or the end of an empty response
        if (kind == read_kind::number_rest_kept || kind == read_kind::number_rest_discarded)
            parse_number();
        else
            parse_list(kind);
        return 0;
    } catch (const formattedio_parse_error&) {
        throw;
    } catch (...) {
        // A full token buffer, a failed conversion or allocation: the data cannot be parsed.
        throw formattedio_parse_error(message_id::parse_failure, parse_help_context);
    }
}

void formattedio_parse::parse_number()
{
    const int token = m_scanner->next_token();
    if (token == scan_token::INTEGER)
        m_value.change_type(VT_R8);
    else if (token != scan_token::REAL)
        throw formattedio_parse_error(message_id::not_single_number, number_help_context);
    m_target->append_parsed(*m_value.get());
}

void formattedio_parse::parse_list(int kind)
{
    const VARTYPE type = item_type(kind);
    // Doubles, and integers for 32-bit lists, need no conversion: their values go straight in.
    const bool direct = kind == read_kind::double_list || kind == read_kind::long_list;
    for (int item = 1;; ++item) {
        if (direct) {
            const formattedio_scan::plain_number number = m_scanner->number_and_end();
            if (number.token == scan_token::INTEGER && kind == read_kind::long_list) {
                m_target->push_parsed(number.integer);
            } else if (number.token && kind == read_kind::double_list) {
                m_target->push_parsed(number.token == scan_token::INTEGER ? number.integer : number.real);
            } else if (number.token) {
                m_value.clear(); // a real for a 32-bit list: the platform rounds it below
                V_VT(m_value.get()) = VT_R8;
                V_R8(m_value.get()) = number.real;
                append_converted(type);
            }
            if (number.token && number.behind == '\n')
                return;
            if (number.token)
                continue;
        }
        const int token = m_scanner->next_token();
        const bool accepted = token == scan_token::INTEGER || token == scan_token::REAL ||
                              (kind == read_kind::any_list && token == scan_token::STRING);
        if (!accepted)
            raise_item_error(kind, item);
        append_converted(type);
        const int after = m_scanner->next_token();
        if (after == scan_token::END_OF_DATA || after == scan_token::NEWLINE)
            return;
        if (after != scan_token::SEPARATOR)
            throw formattedio_parse_error(message_id::parse_failure, parse_help_context);
    }
}

void formattedio_parse::append_converted(VARTYPE type)
{
    if (type != VT_EMPTY && m_value.type() != type)
        if (const HRESULT hr = m_value.change_type(type); FAILED(hr))
            throw win32_hresult_error(message_id::coercion_failed, hr);
    m_target->append_parsed(*m_value.get());
}

} // namespace morvane
