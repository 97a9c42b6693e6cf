#pragma once
// One IEEE 488.2 definite-length block: "#", a digit count D, D length digits, then the data
// bytes. Elements of 2, 4 and 8 bytes travel with their bytes reversed (big-endian) when the
// block swaps; single bytes never are.
//
// The block keeps its data where it already lies, held open in a safe array, so that a block
// crosses the component in one copy: when writing, the caller's elements in memory order,
// reversed on their way into the output buffer; when reading, the session's array in wire
// order, reversed on their way into the result array.
#include <windows.h>
#include <oaidl.h>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include "platform/safearray.hpp"
#include "stream/comio_stream.hpp"

namespace morvane {

class binary_block {
public:
    // An empty block; `swap`: elements are reversed between memory and the wire.
    explicit binary_block(bool swap) noexcept : m_swap(swap) {}
    virtual ~binary_block();
    binary_block(const binary_block&) = delete;
    binary_block& operator=(const binary_block&) = delete;

    // The elements of the array that `data` holds, directly or by reference, as many as its
    // first dimension has. Message 107 for anything but an array of a block element type;
    // message 2003 when the array cannot be read.
    void from_array(const VARIANT& data);
    // The data as the session returned it: the first `count` bytes of `bytes`.
    void take_data(unique_safearray bytes, std::size_t count);

    // Header and data onto the stream; message 101 when the size needs more than 9 digits.
    // A failure of the stream shows in its state.
    void write_block(basic_comostream& out) const;
    // The data as a one-dimensional array of the element type `type`, lower bound 0, stored in
    // `result` only on success. Message 106 when the bytes do not make whole elements of it.
    void to_array(VARIANT& result, bool swap, std::uint32_t type) const;

private:
    unique_safearray m_owned;               // the session's array, when the data is its
    std::optional<safearray_data> m_access; // the data held open; given back before m_owned goes
    std::span<const unsigned char> m_bytes;
    std::size_t m_element_size = 1;
    bool m_swap;
};

} // namespace morvane
