#pragma once
// ONC RPC record marking over TCP, receiving: fragments joined into one record, no record
// larger than a limit, the bytes received straight into the record's buffer (one copy).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace morvane::vxi11 {

class record_receiver {
public:
    // `limit`: the most bytes a record may hold; a fragment header that would pass it throws.
    explicit record_receiver(std::size_t limit) noexcept : limit_(limit) {}

    // Where the next bytes of the stream go: never empty while the record is incomplete.
    std::span<unsigned char> space() noexcept;
    // `count` bytes were put at the start of space(); throws xdr_error for a record past the limit.
    void received(std::size_t count);

    bool complete() const noexcept { return last_ && fragment_left_ == 0 && header_got_ == 0; }
    // The complete record; the receiver then waits for the next one.
    std::vector<unsigned char> take() noexcept;

private:
    std::size_t limit_;
    std::vector<unsigned char> record_;
    std::array<unsigned char, 4> header_{};
    std::size_t header_got_ = 0;    // bytes of a fragment header received so far
    std::size_t fragment_left_ = 0; // bytes of the current fragment still to come
    bool in_fragment_ = false;
    bool last_ = false;
};

} // namespace morvane::vxi11
