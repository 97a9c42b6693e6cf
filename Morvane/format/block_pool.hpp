#pragma once
// Blocks of 64 KiB for the values of long list reads. The formatted-I/O object keeps a pool,
// so that list after list reuses memory that is already mapped instead of touching fresh pages.
#include <cstddef>
#include <memory>
#include <vector>

namespace morvane {

class block_pool {
public:
    static constexpr std::size_t block_size = 64 * 1024;
    static constexpr std::size_t kept_most = 256; // 16 MiB

    std::unique_ptr<unsigned char[]> take();
    void give(std::unique_ptr<unsigned char[]> block) noexcept;

private:
    std::vector<std::unique_ptr<unsigned char[]>> m_free;
};

} // namespace morvane
