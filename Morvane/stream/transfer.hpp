#pragma once
// The two ends of a bulk transfer through comio_buf: where output bytes come from, and where
// the bytes of an input message go. Both let large transfers bypass the buffer's own areas.
#include <cstddef>
#include <cstring>
#include <span>
#include "platform/safearray.hpp"

namespace morvane {

// Produces output bytes in order: each call writes the next `count` of them to `to`.
class byte_source {
public:
    virtual void produce(unsigned char* to, std::size_t count) = 0;
    // The next `count` bytes where they already lie in memory, taken; null for bytes that are
    // only made on request.
    virtual const unsigned char* take_in_place(std::size_t) noexcept { return nullptr; }

protected:
    ~byte_source() = default;
};

// Bytes that are already in memory; whole chunks of them go to the session where they lie.
class memory_source final : public byte_source {
public:
    explicit memory_source(std::span<const unsigned char> bytes) noexcept : m_rest(bytes) {}
    std::size_t size() const noexcept { return m_rest.size(); }
    void produce(unsigned char* to, std::size_t count) override
    {
        if (count)
            std::memcpy(to, take_in_place(count), count);
    }
    const unsigned char* take_in_place(std::size_t count) noexcept override
    {
        const unsigned char* taken = m_rest.data();
        m_rest = m_rest.subspan(count);
        return taken;
    }

private:
    std::span<const unsigned char> m_rest;
};

// Receives the bytes of one input message in order.
class message_sink {
public:
    // Bytes that stay valid only during the call.
    virtual void take(std::span<const unsigned char> bytes) = 0;
    // A chunk as the session returned it: `count` bytes, handed over with the array.
    virtual void take(unique_safearray chunk, std::size_t count) = 0;

protected:
    ~message_sink() = default;
};

} // namespace morvane
