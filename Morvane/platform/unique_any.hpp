#pragma once
// The owner of one platform handle: `Free` runs on every way out, the handle moves and is never
// copied. `Empty` is the value that holds nothing (null, or INVALID_SOCKET and the like).
#include <utility>

namespace morvane {

template <typename Handle, auto Free, Handle Empty = Handle{}>
class unique_any {
public:
    unique_any() noexcept = default;
    explicit unique_any(Handle handle) noexcept : handle_(handle) {}
    unique_any(unique_any&& other) noexcept : handle_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    Handle get() const noexcept { return handle_; }
    Handle operator->() const noexcept { return handle_; } // for handles that are pointers
    explicit operator bool() const noexcept { return handle_ != Empty; }
    // Hands the handle over to the caller, who frees it.
    Handle release() noexcept { return std::exchange(handle_, Empty); }
    void reset(Handle handle = Empty) noexcept
    {
        if (const Handle old = std::exchange(handle_, handle); old != Empty)
            Free(old);
    }
    // For an [out] argument: what it held is freed first.
    Handle* put() noexcept
    {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Empty;
};

} // namespace morvane
