#include "format/block_pool.hpp"

namespace morvane {

std::unique_ptr<unsigned char[]> block_pool::take()
{
    if (m_free.empty())
        return std::make_unique_for_overwrite<unsigned char[]>(block_size);
    std::unique_ptr<unsigned char[]> block = std::move(m_free.back());
    m_free.pop_back();
    return block;
}

void block_pool::give(std::unique_ptr<unsigned char[]> block) noexcept
{
    if (m_free.size() < kept_most) {
        try {
            m_free.push_back(std::move(block));
        } catch (...) {}
    }
}

} // namespace morvane
