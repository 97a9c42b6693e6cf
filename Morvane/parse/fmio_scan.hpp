#pragma once
// The table-driven scanning engine: it finds the longest token at the current position with
// the automaton of scan_rules, in a token buffer of 100 bytes that also holds the bytes read
// ahead behind the token and the bytes that an action puts back. What the tokens mean is the
// derived scanner's business; the engine only says which rule matched and what the text is.
//
// Bytes come from the input hook, or without a call from a window of bytes that the derived
// scanner opens onto memory it reads, each passed through its byte map: per byte the engine
// does a few loads and one table step.
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include "parse/scan_rules.hpp"

namespace morvane {

class fmio_scan {
public:
    static constexpr int token_buffer_size = 100;
    static constexpr int end_of_data = -1;

    fmio_scan(const fmio_scan&) = delete;
    fmio_scan& operator=(const fmio_scan&) = delete;

    // The rule of the next token, whose text token() then gives; no_rule at the end of the data.
    scan_rule match();
    std::string_view token() const noexcept
    {
        return {reinterpret_cast<const char*>(m_buffer.data()), static_cast<std::size_t>(m_token_length)};
    }
    // The next byte behind the token, or end_of_data.
    int read_char();
    // Puts a byte back in front of the bytes behind the token.
    void unread_char(int byte);

protected:
    fmio_scan() noexcept;
    ~fmio_scan() = default; // destroyed through the derived scanner only

    void enter(scan_condition condition) noexcept { m_condition = condition; }

    // For a derived scanner that takes a whole token straight from the window: whether it may
    // (in the response condition, with no byte held once the last token is dropped), and the
    // byte read behind that token, to be held as a read-ahead byte is.
    bool nothing_held() noexcept { return drop_token() == 0 && m_condition == scan_condition::response; }
    // Whether the one byte held is `byte`, a token that cannot grow; it is then the token.
    bool held_alone(unsigned char byte) noexcept
    {
        if (drop_token() != 1 || m_buffer[0] != byte || m_condition != scan_condition::response)
            return false;
        m_token_length = 1;
        return true;
    }
    void hold(unsigned char byte) noexcept
    {
        m_buffer[0] = byte;
        m_fill = 1;
    }

    // The next byte (0-255), or end_of_data; called when the window is used up.
    virtual int input() = 0;
    // At the end of the data with no byte of a token read: non-zero ends the scan.
    virtual int wrap() { return 1; }
    virtual void error(const char* format, ...) = 0;
    // A byte that starts no token; it is dropped.
    virtual void output(int) {}
    // The scan cannot go on: the message goes to error(), and the scan ends with scan_aborted.
    [[noreturn]] virtual void fatal(const char* message);

    // Bytes taken before input() is called: [m_next, m_end), each through m_map.
    const unsigned char* m_next = nullptr;
    const unsigned char* m_end = nullptr;
    std::array<unsigned char, 256> m_map;

private:
    int take() { return m_next != m_end ? m_map[*m_next++] : input(); }
    // Drops the last token's bytes; what stays held behind it moves to the front. The count held.
    int drop_token() noexcept
    {
        const int held = m_fill - m_token_length;
        // Usually no byte or one is held: those moves stay out of the C library.
        if (held == 1)
            m_buffer[0] = m_buffer[m_token_length];
        else if (held > 1)
            std::memmove(m_buffer.data(), m_buffer.data() + m_token_length, static_cast<std::size_t>(held));
        m_fill = held;
        m_token_length = 0;
        return held;
    }

    scan_condition m_condition = scan_condition::initial;
    int m_fill = 0;
    int m_token_length = 0;
    std::array<unsigned char, token_buffer_size> m_buffer;
};

// What fatal() raises: the scan ended on a full buffer.
struct scan_aborted {};

} // namespace morvane
