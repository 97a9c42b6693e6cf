#pragma once
// Owning SAFEARRAY and a scoped view of its data.
#include <windows.h>
#include <oleauto.h>
#include <cstddef>
#include <memory>
#include <span>

namespace morvane {

struct safearray_destroy {
    void operator()(SAFEARRAY* array) const noexcept { SafeArrayDestroy(array); }
};
using unique_safearray = std::unique_ptr<SAFEARRAY, safearray_destroy>;

// A one-dimensional byte array, lower bound 0; raises message 2004 when it cannot be made.
unique_safearray make_byte_array(std::size_t count);

// Number of elements of the first dimension; raises message 2003 when the array cannot be bounded.
std::size_t element_count(SAFEARRAY* array);

// SafeArrayAccessData for the lifetime of the guard; failures raise message 2003.
class safearray_data {
public:
    explicit safearray_data(SAFEARRAY* array);
    ~safearray_data();
    safearray_data(const safearray_data&) = delete;
    safearray_data& operator=(const safearray_data&) = delete;

    void* get() const noexcept { return data_; }
    std::span<unsigned char> bytes(std::size_t count) const noexcept
    {
        return {static_cast<unsigned char*>(data_), count};
    }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

} // namespace morvane
