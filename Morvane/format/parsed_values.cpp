#include "format/parsed_values.hpp"

#include <algorithm>
#include <oleauto.h>
#include "platform/variant.hpp"

namespace morvane {
namespace {

std::size_t size_of(VARTYPE type) noexcept
{
    return type == VT_VARIANT ? sizeof(VARIANT) : type == VT_BSTR ? sizeof(BSTR) : number_size(type);
}

} // namespace

parsed_values::parsed_values(VARTYPE type, block_pool* pool) noexcept
    : m_type(type), m_size(size_of(type)), m_pool(pool), m_room(m_inline.size() / m_size), m_cursor(m_inline.data())
{}

parsed_values::~parsed_values() { clear(); }

void parsed_values::next_block()
{
    m_blocks.reserve(m_blocks.size() + 1);
    m_blocks.push_back(m_pool ? m_pool->take()
                              : std::make_unique_for_overwrite<unsigned char[]>(block_pool::block_size));
    m_cursor = m_blocks.back().get();
    m_room = block_pool::block_size / m_size;
}

void parsed_values::take(VARIANT& value)
{
    if (m_type == VT_VARIANT) {
        push(value);
        VariantInit(&value);
        return;
    }
    if (m_type == VT_BSTR) {
        push(V_BSTR(&value));
        VariantInit(&value);
        return;
    }
    switch (m_type) {
    case VT_UI1: push(V_UI1(&value)); break;
    case VT_I2: push(V_I2(&value)); break;
    case VT_I4: push(V_I4(&value)); break;
    case VT_R4: push(V_R4(&value)); break;
    default: push(V_R8(&value)); break;
    }
}

template<typename Each> void parsed_values::for_each_piece(Each&& each) noexcept
{
    std::size_t left = m_count;
    const std::size_t first = std::min(left, m_inline.size() / m_size);
    each(m_inline.data(), first);
    left -= first;
    for (const auto& block : m_blocks) {
        const std::size_t n = std::min(left, block_pool::block_size / m_size);
        each(block.get(), n);
        left -= n;
    }
}

void parsed_values::move_to(unsigned char* to) noexcept
{
    for_each_piece([&](unsigned char* piece, std::size_t n) {
        std::memcpy(to, piece, n * m_size);
        to += n * m_size;
    });
    m_count = 0; // what the values owned belongs to `to` now
    clear();
}

void parsed_values::clear() noexcept
{
    if (m_type == VT_BSTR || m_type == VT_VARIANT)
        for_each_piece([&](unsigned char* piece, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                if (m_type == VT_BSTR)
                    SysFreeString(reinterpret_cast<BSTR*>(piece)[i]);
                else
                    VariantClear(reinterpret_cast<VARIANT*>(piece) + i);
            }
        });
    for (auto& block : m_blocks)
        if (m_pool)
            m_pool->give(std::move(block));
    m_blocks.clear();
    m_count = 0;
    m_room = m_inline.size() / m_size;
    m_cursor = m_inline.data();
}

} // namespace morvane
