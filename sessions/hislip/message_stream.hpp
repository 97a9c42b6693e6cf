#pragma once
// HiSLIP messages from a byte stream, in as few receives as can be: a header and a short
// payload come in one receive through a small staging buffer, which keeps what came past them
// for the next; a large payload goes straight to where its reader wants it. Every count is
// updated as bytes arrive, so a receive that throws (a timeout) loses nothing: the next call
// goes on where it stopped.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include "hislip/hislip_messages.hpp"

namespace morvane::hislip {

class message_stream {
public:
    // The next message's header, once the last one's payload has been read or skipped; none
    // when the stream ended first. `receive(span)` puts bytes at the start of the span and says
    // how many (0: the stream ended), or throws. Throws protocol_error for a header without
    // the prologue.
    template<typename Receive> std::optional<header> next_header(Receive&& receive)
    {
        while (m_header_got < header_size) {
            if (m_payload_left > 0 && !skip_payload(receive))
                return std::nullopt;
            if (m_staged == m_staged_end && !stage(receive))
                return std::nullopt;
            const std::size_t count = std::min(header_size - m_header_got, m_staged_end - m_staged);
            std::copy_n(m_staging.begin() + m_staged, count, m_header.begin() + m_header_got);
            m_staged += count;
            m_header_got += count;
        }
        m_header_got = 0;
        const header message = decode(m_header);
        m_payload_left = message.length;
        return message;
    }

    // Bytes of the last header's payload not yet read.
    std::uint64_t payload_left() const noexcept { return m_payload_left; }
    // Whether bytes received are waiting here, so that a reader that asks the socket whether
    // more came asks here first.
    bool staged() const noexcept { return m_staged < m_staged_end; }

    // Up to `to.size()` bytes of the payload into `to`, as many as come in one receive (or are
    // staged); how many, 0 when the stream ended or the payload is done.
    template<typename Receive> std::size_t payload(std::span<unsigned char> to, Receive&& receive)
    {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(to.size(), m_payload_left));
        if (wanted == 0)
            return 0;
        std::size_t got = 0;
        if (m_staged < m_staged_end) {
            got = std::min(wanted, m_staged_end - m_staged);
            std::copy_n(m_staging.begin() + m_staged, got, to.begin());
            m_staged += got;
        } else if (wanted >= m_staging.size()) {
            got = receive(to.first(wanted));
        } else {
            if (!stage(receive))
                return 0;
            return payload(to, receive);
        }
        m_payload_left -= got;
        return got;
    }

    // The whole payload into `to` (of payload_left() bytes at least); false when the stream ended.
    template<typename Receive> bool whole_payload(std::span<unsigned char> to, Receive&& receive)
    {
        for (std::size_t at = 0; m_payload_left > 0;) {
            const std::size_t got = payload(to.subspan(at), receive);
            if (got == 0)
                return false;
            at += got;
        }
        return true;
    }

private:
    template<typename Receive> bool stage(Receive&& receive)
    {
        const std::size_t got = receive(std::span<unsigned char>(m_staging));
        m_staged = 0;
        m_staged_end = got;
        return got > 0;
    }
    // Passes over a payload nobody reads, through the staging buffer.
    template<typename Receive> bool skip_payload(Receive&& receive)
    {
        while (m_payload_left > 0) {
            if (m_staged == m_staged_end && !stage(receive))
                return false;
            const std::size_t count =
                static_cast<std::size_t>(std::min<std::uint64_t>(m_payload_left, m_staged_end - m_staged));
            m_staged += count;
            m_payload_left -= count;
        }
        return true;
    }

    std::array<unsigned char, 4096> m_staging;
    std::size_t m_staged = 0, m_staged_end = 0;
    header_bytes m_header{};
    std::size_t m_header_got = 0;
    std::uint64_t m_payload_left = 0;
};

} // namespace morvane::hislip
