#pragma once
// The response parser: pulls the tokens of one response from a scanner over the formatter's
// input stream, checks that they form a list of the kind being read (or one number), converts
// each item to the kind's type and hands it to the formatter. The first token that does not
// fit ends the read with formattedio_parse_error.
#include <optional>
#include <string>
#include "error/errors.hpp"
#include "parse/formattedio_scan.hpp"
#include "platform/variant.hpp"

namespace morvane {

class ieee488_formatter;

class formattedio_parse {
public:
    class formattedio_parse_error : public loc_com_error {
    public:
        formattedio_parse_error(message_id message, DWORD help_context);
        formattedio_parse_error(std::wstring description, DWORD help_context);
    };

    // `target`'s stream is the one read; its items go to `target`.
    explicit formattedio_parse(ieee488_formatter* target) noexcept : m_target(target) {}
    virtual ~formattedio_parse() = default;

    // Reads one response of `kind` (read_kind), with the separators as a NUL-terminated list.
    int parse(int kind, const char* separators);
    // The scanner of the last parse, or null.
    const formattedio_scan* scanner() const noexcept { return m_scanner ? &*m_scanner : nullptr; }

private:
    void parse_number();
    void parse_list(int kind);
    // The value converted to the list's element type (VT_EMPTY: kept as scanned), appended.
    void append_converted(VARTYPE type);

    std::optional<formattedio_scan> m_scanner;
    ieee488_formatter* m_target;
    unique_variant m_value;
};

using formattedio_parse_error = formattedio_parse::formattedio_parse_error;

} // namespace morvane
