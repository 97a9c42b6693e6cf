#pragma once
// Cuts the byte stream of a raw SCPI socket into messages: a line feed ends a message, except
// inside a definite-length block (#, a digit count, the length, the data), whose data may hold
// any byte.
#include <cstddef>
#include <string>

namespace morvane::instrument_server {

class message_framer {
public:
    // Takes one byte; true when it ends a message, which message() then holds.
    bool take(char byte);
    const std::string& message() const noexcept { return message_; }
    void clear() noexcept { message_.clear(); }

private:
    enum class state { text, mark, digits, data };
    std::string message_;
    state state_ = state::text;
    int digits_left_ = 0;
    std::size_t data_left_ = 0;
};

} // namespace morvane::instrument_server
