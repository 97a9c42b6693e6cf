#pragma once
// Where IEEE 488.2 program messages end, in bytes as they arrive: at a line feed, except where
// the line feed is data, inside a quoted string or a block. A definite block (#, a digit count,
// the length, the data) holds any byte; an indefinite one (#0) runs to END, which only the
// transport can tell, unless line feeds stand for END (a raw socket has no other).
#include <cstddef>
#include <string_view>

namespace morvane::sim {

class message_end {
public:
    explicit message_end(bool line_feed_is_end = false) noexcept : m_line_feed_is_end(line_feed_is_end) {}

    // How many of `bytes` belong to the current message, its final line feed included, when
    // that line feed is among them (the next byte then starts a new message); npos otherwise.
    std::size_t find(std::string_view bytes) noexcept;
    // END came: whatever the bytes were inside, the next one starts a new message.
    void reset() noexcept { m_state = state::text; }

private:
    enum class state { text, quoted, mark, digits, data, indefinite };
    bool m_line_feed_is_end;
    state m_state = state::text;
    char m_quote = 0;
    int m_digits_left = 0;
    std::size_t m_data_left = 0;
};

} // namespace morvane::sim
