#pragma once
// Elements between memory order (little-endian) and the wire's big-endian order.
#include <cstddef>

namespace morvane {

// Writes the bytes [first, first + count) of a run of elements of `size` bytes, each element
// with its bytes reversed, to `to`: the copy and the swap in one pass. `first` and the end may
// fall inside an element, as the chunks of an output buffer cut them.
void copy_reversed(const unsigned char* elements, std::size_t first, std::size_t count, std::size_t size,
                   unsigned char* to) noexcept;

} // namespace morvane
