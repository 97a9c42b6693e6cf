#pragma once
// The owner of one platform handle: `Free` runs on every way out, the handle moves and is never
// copied. `Empty` is the value that holds nothing (null, or INVALID_SOCKET and the like).
#include <utility>

namespace morvane {

template<typename Handle, auto Free, Handle Empty = Handle{}> class unique_any {
public:
    unique_any() noexcept = default;
    explicit unique_any(Handle handle) noexcept : m_handle(handle) {}
    unique_any(unique_any&& other) noexcept : m_handle(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    Handle get() const noexcept { return m_handle; }
    Handle operator->() const noexcept { return m_handle; } // for handles that are pointers
    explicit operator bool() const noexcept { return m_handle != Empty; }
    // Hands the handle over to the caller, who frees it.
    Handle release() noexcept { return std::exchange(m_handle, Empty); }
    void reset(Handle handle = Empty) noexcept
    {
        if (const Handle old = std::exchange(m_handle, handle); old != Empty)
            Free(old);
    }
    // For an [out] argument: what it held is freed first.
    Handle* put() noexcept
    {
        reset();
        return &m_handle;
    }

private:
    Handle m_handle = Empty;
};

} // namespace morvane
