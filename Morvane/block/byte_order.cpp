#include "block/byte_order.hpp"

#include <cstdint>
#include <cstring>

namespace morvane {
namespace {

inline std::uint16_t reversed(std::uint16_t word) noexcept { return __builtin_bswap16(word); }
inline std::uint32_t reversed(std::uint32_t word) noexcept { return __builtin_bswap32(word); }
inline std::uint64_t reversed(std::uint64_t word) noexcept { return __builtin_bswap64(word); }

// Whole elements, read and written as words wherever they lie.
template <typename Word>
void reverse_whole(const unsigned char* from, std::size_t count, unsigned char* to) noexcept
{
    for (std::size_t i = 0; i < count; ++i, from += sizeof(Word), to += sizeof(Word)) {
        Word word;
        std::memcpy(&word, from, sizeof word);
        word = reversed(word);
        std::memcpy(to, &word, sizeof word);
    }
}

} // namespace

void copy_reversed(const unsigned char* elements, std::size_t first, std::size_t count, std::size_t size,
                   unsigned char* to) noexcept
{
    // Wire byte k is byte size - 1 - k % size of element k / size.
    const auto wire_byte = [&](std::size_t k) { return elements[k - k % size + size - 1 - k % size]; };
    std::size_t k = first;
    const std::size_t end = first + count;
    for (; k < end && k % size != 0; ++k)
        *to++ = wire_byte(k);
    const std::size_t whole = (end - k) / size;
    switch (size) {
    case 2: reverse_whole<std::uint16_t>(elements + k, whole, to); break;
    case 4: reverse_whole<std::uint32_t>(elements + k, whole, to); break;
    case 8: reverse_whole<std::uint64_t>(elements + k, whole, to); break;
    default:
        for (std::size_t i = 0; i < whole * size; ++i)
            to[i] = wire_byte(k + i);
    }
    to += whole * size;
    for (k += whole * size; k < end; ++k)
        *to++ = wire_byte(k);
}

} // namespace morvane
