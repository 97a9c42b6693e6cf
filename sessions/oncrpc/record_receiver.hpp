#pragma once
// ONC RPC record marking over TCP, receiving: fragments joined into one record, no record
// larger than a limit, the bytes received straight into the record's buffer (one copy), which
// grows as they arrive.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace morvane::oncrpc {

class record_receiver {
public:
    // `limit`: the most bytes a record may hold; a fragment header that would pass it throws.
    // `ahead`: the most room made for data that have not arrived (doubling with what has).
    explicit record_receiver(std::size_t limit, std::size_t ahead = 64 << 10) noexcept : limit_(limit), ahead_(ahead) {}

    // Where the next bytes of the stream go: never empty while the record is incomplete.
    std::span<unsigned char> space();
    // `count` bytes were put at the start of space(); throws xdr_error for a record past the limit.
    void received(std::size_t count);
    // Takes what the record needs of `bytes` and says how many that was.
    std::size_t feed(std::span<const unsigned char> bytes);

    bool complete() const noexcept { return last_ && fragment_left_ == 0 && header_got_ == 0; }
    // The complete record; the receiver then waits for the next one.
    std::vector<unsigned char> take() noexcept;

private:
    std::size_t limit_;
    std::size_t ahead_;
    std::vector<unsigned char> record_; // its first filled_ bytes received, the rest room for more
    std::size_t filled_ = 0;
    std::array<unsigned char, 4> header_{};
    std::size_t header_got_ = 0;    // bytes of a fragment header received so far
    std::size_t fragment_left_ = 0; // bytes of the current fragment still to come
    bool in_fragment_ = false;
    bool last_ = false;
};

// Records from a byte stream, in as few receives as can be: a record mark and a short record
// come in one receive through a small staging buffer, which keeps what came past the record for
// the next; large data go straight into the record.
class record_stream {
public:
    explicit record_stream(std::size_t limit, std::size_t ahead = 64 << 10) noexcept : receiver_(limit, ahead) {}

    // The next record. `receive(span)` puts bytes at the start of the span and says how many;
    // 0 means the stream ended, and then there is no record.
    template <typename Receive>
    std::optional<std::vector<unsigned char>> next(Receive&& receive)
    {
        while (!receiver_.complete()) {
            if (staged_ < staged_end_) {
                staged_ += receiver_.feed(std::span(staging_).subspan(staged_, staged_end_ - staged_));
                continue;
            }
            const std::span<unsigned char> space = receiver_.space();
            const bool straight = space.size() >= staging_.size();
            const std::size_t got = receive(straight ? space : std::span<unsigned char>(staging_));
            if (got == 0)
                return std::nullopt;
            if (straight) {
                receiver_.received(got);
            } else {
                staged_ = 0;
                staged_end_ = got;
            }
        }
        return receiver_.take();
    }

private:
    record_receiver receiver_;
    std::array<unsigned char, 4096> staging_;
    std::size_t staged_ = 0, staged_end_ = 0;
};

} // namespace morvane::oncrpc
