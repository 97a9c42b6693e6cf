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
    explicit record_receiver(std::size_t limit, std::size_t ahead = 64 << 10) noexcept : m_limit(limit), m_ahead(ahead)
    {}

    // Where the next bytes of the stream go: never empty while the record is incomplete.
    std::span<unsigned char> space();
    // `count` bytes were put at the start of space(); throws xdr_error for a record past the limit.
    void received(std::size_t count);
    // Takes what the record needs of `bytes` and says how many that was.
    std::size_t feed(std::span<const unsigned char> bytes);

    bool complete() const noexcept { return m_last && m_fragment_left == 0 && m_header_got == 0; }
    // The complete record; the receiver then waits for the next one.
    std::vector<unsigned char> take() noexcept;

private:
    std::size_t m_limit;
    std::size_t m_ahead;
    std::vector<unsigned char> m_record; // its first m_filled bytes received, the rest room for more
    std::size_t m_filled = 0;
    std::array<unsigned char, 4> m_header{};
    std::size_t m_header_got = 0;    // bytes of a fragment header received so far
    std::size_t m_fragment_left = 0; // bytes of the current fragment still to come
    bool m_in_fragment = false;
    bool m_last = false;
};

// Records from a byte stream, in as few receives as can be: a record mark and a short record
// come in one receive through a small staging buffer, which keeps what came past the record for
// the next; large data go straight into the record.
class record_stream {
public:
    explicit record_stream(std::size_t limit, std::size_t ahead = 64 << 10) noexcept : m_receiver(limit, ahead) {}

    // The next record. `receive(span)` puts bytes at the start of the span and says how many;
    // 0 means the stream ended, and then there is no record.
    template<typename Receive> std::optional<std::vector<unsigned char>> next(Receive&& receive)
    {
        while (!m_receiver.complete()) {
            if (m_staged < m_staged_end) {
                m_staged += m_receiver.feed(std::span(m_staging).subspan(m_staged, m_staged_end - m_staged));
                continue;
            }
            const std::span<unsigned char> space = m_receiver.space();
            const bool straight = space.size() >= m_staging.size();
            const std::size_t got = receive(straight ? space : std::span<unsigned char>(m_staging));
            if (got == 0)
                return std::nullopt;
            if (straight) {
                m_receiver.received(got);
            } else {
                m_staged = 0;
                m_staged_end = got;
            }
        }
        return m_receiver.take();
    }

private:
    record_receiver m_receiver;
    std::array<unsigned char, 4096> m_staging;
    std::size_t m_staged = 0, m_staged_end = 0;
};

} // namespace morvane::oncrpc
