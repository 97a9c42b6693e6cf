#pragma once
// The scanner of one read: the engine bound to the input stream of an ieee488_formatter, with
// that reader's separators mapped to ",", and the actions that give each token its value.
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <string_view>
#include <vector>
#include "parse/fmio_scan.hpp"

namespace morvane {

class ieee488_formatter;

// What next_token returns; its first call returns the read kind instead.
namespace scan_token {
enum : int { END_OF_DATA = 0, INTEGER = 2, NEWLINE = 3, SEPARATOR = 6, REAL = 7, STRING = 8 };
}

// What is being read: the list kinds by element type, and the two number reads.
namespace read_kind {
enum : int {
    byte_list = 9,
    short_list = 10,
    long_list = 11,
    float_list = 12,
    double_list = 13,
    any_list = 15,
    number_rest_kept = 17,
    number_rest_discarded = 18,
};
}

class formattedio_scan final : public fmio_scan {
public:
    // Every token that has a value stores it into `value`, replacing what was there.
    formattedio_scan(ieee488_formatter* source, int kind, VARIANT* value, const char* separators);
    virtual ~formattedio_scan();

    int next_token();

    // A plain number and the "," or LF behind it, both taken where that is done in one step:
    // what two calls of next_token would give, the second SEPARATOR or NEWLINE. Token 0 when
    // the number is not plain; nothing is taken then.
    struct plain_number {
        int token = 0; // INTEGER (integer) or REAL (real)
        LONG integer = 0;
        double real = 0;
        unsigned char behind = 0; // "," or LF
    };
    plain_number number_and_end();
    // What followed the number of a read that keeps the rest.
    const std::vector<unsigned char>& saved_rest() const noexcept { return m_saved_rest; }
    const std::string& error_text() const noexcept { return m_error_text; }
    // Accounts to the stream for the bytes taken without a call; due before anyone else reads it.
    void settle_input() noexcept;

protected:
    int input() override;
    int wrap() override { return 1; }
    void error(const char* format, ...) override;

private:
    bool number_read() const noexcept;
    // A plain number followed by "," or LF, where the window holds both, as the rules and the
    // number action would take it, with the byte behind it; token 0 for anything else, which
    // the automaton then scans.
    plain_number take_plain_number();
    // The same as a token, the byte behind it held as read ahead.
    int number_shortcut();
    int number_action(bool integer_test);
    // An item of text that starts with `text`: the bytes up to the next "," or LF stay in it.
    int text_item(std::string text);
    void release_value();
    void store_text(std::string_view text);

    ieee488_formatter* m_source;
    std::vector<unsigned char> m_saved_rest;
    int m_read_kind;
    VARIANT* m_value;
    std::string m_error_text;
    std::string m_separators;
    const unsigned char* m_window_begin = nullptr;
    bool m_shortcut; // list reads whose separators leave number text as it is
};

} // namespace morvane
