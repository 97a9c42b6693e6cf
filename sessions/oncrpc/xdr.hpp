#pragma once
// XDR: big-endian 4-byte fields, opaque data and strings padded to 4 bytes. The writer builds
// a whole ONC RPC record in one buffer, room for its record mark first, so that a large
// device_read reply is copied once, into that buffer; the reader refuses input that ends
// early or holds more than the caller allows, and never reads past the end.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::oncrpc {

// Input that cannot be decoded, or a size beyond a limit.
struct xdr_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class xdr_writer {
public:
    // `capacity`: the bytes the whole message will take, reserved once.
    explicit xdr_writer(std::size_t capacity = 128);

    void put(std::uint32_t value);
    void put_signed(std::int32_t value) { put(static_cast<std::uint32_t>(value)); }
    void put_opaque(std::span<const unsigned char> bytes);
    void put_string(std::string_view text);
    // An opaque of `size` bytes whose data the caller writes into the span returned (its
    // padding is already zero); shrink_opaque can then shorten it.
    std::span<unsigned char> put_opaque_space(std::size_t size);
    // Shortens the opaque that put_opaque_space made last, which must end the message, to `size` bytes.
    void shrink_opaque(std::size_t size);

    // Where the next field goes, and a field rewritten there later (a result known last).
    std::size_t size() const noexcept { return m_bytes.size(); }
    void put_at(std::size_t offset, std::uint32_t value);

    // The message with its record mark, one last fragment, for TCP.
    std::span<const unsigned char> record();
    // The message alone, for UDP.
    std::span<const unsigned char> message() const noexcept { return std::span(m_bytes).subspan(4); }

private:
    std::vector<unsigned char> m_bytes;
    std::size_t m_opaque_at = 0; // where the length of the last opaque space is
};

class xdr_reader {
public:
    explicit xdr_reader(std::span<const unsigned char> bytes) noexcept : m_bytes(bytes) {}

    std::uint32_t get();
    std::int32_t get_signed() { return static_cast<std::int32_t>(get()); }
    bool get_bool() { return get() != 0; }
    // An opaque of at most `most` bytes, viewed where it lies.
    std::span<const unsigned char> get_opaque(std::size_t most);
    std::string get_string(std::size_t most);
    std::size_t left() const noexcept { return m_bytes.size() - m_at; }

private:
    std::span<const unsigned char> take(std::size_t count, const char* what);

    std::span<const unsigned char> m_bytes;
    std::size_t m_at = 0;
};

} // namespace morvane::oncrpc
