#include "sim/message_end.hpp"

#include <algorithm>

namespace morvane::sim {

std::size_t message_end::find(std::string_view bytes) noexcept
{
    for (std::size_t at = 0; at < bytes.size();) {
        const char byte = bytes[at];
        switch (m_state) {
        case state::text: {
            // Plain text is passed over in one step up to the next byte that matters.
            const std::size_t next = bytes.find_first_of("\n\"'#", at);
            if (next == std::string_view::npos)
                return std::string_view::npos;
            at = next + 1;
            if (bytes[next] == '\n')
                return at;
            if (bytes[next] == '#') {
                m_state = state::mark;
            } else {
                m_quote = bytes[next];
                m_state = state::quoted;
            }
            break;
        }
        case state::quoted: {
            // A doubled quote closes the string and opens it again: the same to this scan.
            const std::size_t close = bytes.find(m_quote, at);
            if (close == std::string_view::npos)
                return std::string_view::npos;
            at = close + 1;
            m_state = state::text;
            break;
        }
        case state::mark:
            if (byte == '0') {
                m_state = state::indefinite;
                ++at;
            } else if (byte >= '1' && byte <= '9') {
                m_digits_left = byte - '0';
                m_data_left = 0;
                m_state = state::digits;
                ++at;
            } else {
                m_state = state::text; // not a block (#H1F is a number): this byte is text again
            }
            break;
        case state::digits:
            if (byte < '0' || byte > '9') {
                m_state = state::text; // a broken header: the instrument will say so
                break;
            }
            m_data_left = m_data_left * 10 + std::size_t(byte - '0'); // nine digits at most
            ++at;
            if (--m_digits_left == 0)
                m_state = m_data_left > 0 ? state::data : state::text;
            break;
        case state::data: {
            const std::size_t skipped = std::min(m_data_left, bytes.size() - at);
            at += skipped;
            m_data_left -= skipped;
            if (m_data_left == 0)
                m_state = state::text;
            break;
        }
        case state::indefinite:
            if (!m_line_feed_is_end)
                return std::string_view::npos;
            if (const std::size_t line_feed = bytes.find('\n', at); line_feed != std::string_view::npos) {
                m_state = state::text;
                return line_feed + 1;
            }
            return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

} // namespace morvane::sim
