#include "sim/message_end.hpp"

#include <algorithm>

namespace morvane::sim {

std::size_t message_end::find(std::string_view bytes) noexcept
{
    for (std::size_t at = 0; at < bytes.size();) {
        const char byte = bytes[at];
        switch (state_) {
        case state::text: {
            // Plain text is passed over in one step up to the next byte that matters.
            const std::size_t next = bytes.find_first_of("\n\"'#", at);
            if (next == std::string_view::npos)
                return std::string_view::npos;
            at = next + 1;
            if (bytes[next] == '\n')
                return at;
            if (bytes[next] == '#') {
                state_ = state::mark;
            } else {
                quote_ = bytes[next];
                state_ = state::quoted;
            }
            break;
        }
        case state::quoted: {
            // A doubled quote closes the string and opens it again: the same to this scan.
            const std::size_t close = bytes.find(quote_, at);
            if (close == std::string_view::npos)
                return std::string_view::npos;
            at = close + 1;
            state_ = state::text;
            break;
        }
        case state::mark:
            if (byte == '0') {
                state_ = state::indefinite;
                ++at;
            } else if (byte >= '1' && byte <= '9') {
                digits_left_ = byte - '0';
                data_left_ = 0;
                state_ = state::digits;
                ++at;
            } else {
                state_ = state::text; // not a block (#H1F is a number): this byte is text again
            }
            break;
        case state::digits:
            if (byte < '0' || byte > '9') {
                state_ = state::text; // a broken header: the instrument will say so
                break;
            }
            data_left_ = data_left_ * 10 + std::size_t(byte - '0'); // nine digits at most
            ++at;
            if (--digits_left_ == 0)
                state_ = data_left_ > 0 ? state::data : state::text;
            break;
        case state::data: {
            const std::size_t skipped = std::min(data_left_, bytes.size() - at);
            at += skipped;
            data_left_ -= skipped;
            if (data_left_ == 0)
                state_ = state::text;
            break;
        }
        case state::indefinite:
            if (!line_feed_is_end_)
                return std::string_view::npos;
            if (const std::size_t line_feed = bytes.find('\n', at); line_feed != std::string_view::npos) {
                state_ = state::text;
                return line_feed + 1;
            }
            return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

} // namespace morvane::sim
