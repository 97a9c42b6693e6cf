#pragma once
// The items of a response as they are read, each stored once in the element type of the read,
// then moved into the result array in one copy per block. Strings and VARIANTs are owned until
// they are moved out.
//
// A long list fills blocks that come from a block_pool.
#include <windows.h>
#include <oaidl.h>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>
#include "format/block_pool.hpp"

namespace morvane {

class parsed_values {
public:
    // `type`: VT_UI1, VT_I2, VT_I4, VT_R4, VT_R8, VT_BSTR or VT_VARIANT. Without a pool the
    // blocks are allocated and freed with the values.
    parsed_values(VARTYPE type, block_pool* pool) noexcept;
    ~parsed_values();
    parsed_values(const parsed_values&) = delete;
    parsed_values& operator=(const parsed_values&) = delete;

    VARTYPE type() const noexcept { return m_type; }
    std::size_t size() const noexcept { return m_count; }

    // A value of the element type, stored as it is.
    template<typename T> void push(const T& value)
    {
        if (m_room == 0)
            next_block();
        std::memcpy(m_cursor, &value, sizeof value);
        m_cursor += sizeof value;
        --m_room;
        ++m_count;
    }
    // A VARIANT of the element type, or any VARIANT for VT_VARIANT; what it owns is taken over.
    void take(VARIANT& value);
    // The first value, which the caller does not own.
    const unsigned char* first() const noexcept { return m_count ? m_inline.data() : nullptr; }
    // Moves every value into `to`, which has room for size() elements; empty afterwards.
    void move_to(unsigned char* to) noexcept;
    void clear() noexcept;

private:
    void next_block();
    template<typename Each> void for_each_piece(Each&& each) noexcept;

    VARTYPE m_type;
    std::size_t m_size;
    block_pool* m_pool;
    std::size_t m_count = 0;
    std::size_t m_room;
    unsigned char* m_cursor;
    // The first values, so that a single number needs no block.
    alignas(16) std::array<unsigned char, 192> m_inline;
    std::vector<std::unique_ptr<unsigned char[]>> m_blocks;
};

} // namespace morvane
