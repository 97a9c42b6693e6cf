#include "format/block_pool.hpp"

namespace morvane {

std::unique_ptr<unsigned char[]> block_pool::take()
{
    if (free_.empty())
        return std::make_unique_for_overwrite<unsigned char[]>(block_size);
    std::unique_ptr<unsigned char[]> block = std::move(free_.back());
    free_.pop_back();
    return block;
}

void block_pool::give(std::unique_ptr<unsigned char[]> block) noexcept
{
    if (free_.size() < kept_most) {
        try {
            free_.push_back(std::move(block));
        } catch (...) {
        }
    }
}

} // namespace morvane
