#include "block/byte_order.hpp"

#include <emmintrin.h>
#include <cstdint>
#include <cstring>

namespace morvane {
namespace {

inline std::uint16_t reversed(std::uint16_t word) noexcept { return __builtin_bswap16(word); }
inline std::uint32_t reversed(std::uint32_t word) noexcept { return __builtin_bswap32(word); }
inline std::uint64_t reversed(std::uint64_t word) noexcept { return __builtin_bswap64(word); }

// Each element of 2, 4 or 8 bytes in a vector of 16 reversed. SSE2, which every x86-64
// processor has, shuffles no bytes: the halves of each element are swapped down to 16-bit
// words, then the two bytes of each word.
template<typename Word> __m128i reversed(__m128i v) noexcept
{
    constexpr int swap_pairs = _MM_SHUFFLE(2, 3, 0, 1);
    if constexpr (sizeof(Word) == 8)
        v = _mm_shuffle_epi32(v, swap_pairs);
    if constexpr (sizeof(Word) >= 4)
        v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, swap_pairs), swap_pairs);
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// Whole elements, 16 bytes at a time and then one by one, wherever they lie: as fast as a
// plain copy, so that reversing costs nothing over copying.
template<typename Word> void reverse_whole(const unsigned char* from, std::size_t count, unsigned char* to) noexcept
{
    const std::size_t bytes = count * sizeof(Word);
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         reversed<Word>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i))));
    for (; i < bytes; i += sizeof(Word)) {
        Word word;
        std::memcpy(&word, from + i, sizeof word);
        word = reversed(word);
        std::memcpy(to + i, &word, sizeof word);
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
