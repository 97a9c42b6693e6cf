#include "message_framer.hpp"

namespace morvane::instrument_server {

bool message_framer::take(char byte)
{
    message_ += byte;
    switch (state_) {
    case state::text:
        if (byte == '#')
            state_ = state::mark;
        return byte == '\n';
    case state::mark:
        // "#0" starts a block without a length, which ends like any message.
        if (byte >= '1' && byte <= '9') {
            digits_left_ = byte - '0';
            data_left_ = 0;
            state_ = state::digits;
            return false;
        }
        state_ = state::text;
        return byte == '\n';
    case state::digits:
        if (byte < '0' || byte > '9') {
            state_ = state::text; // not a block after all: the instrument will say so
            return byte == '\n';
        }
        // Lengths beyond what a message may hold end the block early; the instrument refuses it.
        data_left_ = data_left_ < 100'000'000 ? data_left_ * 10 + std::size_t(byte - '0') : data_left_;
        if (--digits_left_ == 0)
            state_ = data_left_ ? state::data : state::text;
        return false;
    case state::data:
        if (--data_left_ == 0)
            state_ = state::text;
        return false;
    }
    return false;
}

} // namespace morvane::instrument_server
