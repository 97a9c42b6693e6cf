#pragma once
// Bytes that end right where a page with no access begins, so that a read past their end
// faults at once: this toolchain has no address sanitizer.
#include <windows.h>
#include <cstddef>

namespace morvane::testing {

class guarded_bytes {
public:
    explicit guarded_bytes(std::size_t size)
    {
        const std::size_t page = 4096, span = (size + page - 1) / page * page;
        base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, span + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base_ + span, page, PAGE_NOACCESS, &old);
        data_ = base_ + span - size;
    }
    ~guarded_bytes() { VirtualFree(base_, 0, MEM_RELEASE); }
    guarded_bytes(const guarded_bytes&) = delete;
    guarded_bytes& operator=(const guarded_bytes&) = delete;

    unsigned char* data() const noexcept { return data_; }

private:
    unsigned char* base_;
    unsigned char* data_;
};

} // namespace morvane::testing
