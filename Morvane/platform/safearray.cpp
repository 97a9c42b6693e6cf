#include "platform/safearray.hpp"

#include "error/errors.hpp"
#include "error/messages.hpp"

namespace morvane {

unique_safearray make_byte_array(std::size_t count)
{
    unique_safearray array(count <= ULONG_MAX ? SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count)) : nullptr);
    if (!array)
        throw win32_hresult_error(message_id::no_memory, E_OUTOFMEMORY);
    return array;
}

std::size_t element_count(SAFEARRAY* array)
{
    LONG lower = 0, upper = -1;
    if (HRESULT hr = SafeArrayGetLBound(array, 1, &lower); FAILED(hr))
        throw win32_hresult_error(message_id::bad_array, hr);
    if (HRESULT hr = SafeArrayGetUBound(array, 1, &upper); FAILED(hr))
        throw win32_hresult_error(message_id::bad_array, hr);
    const LONGLONG count = LONGLONG(upper) - lower + 1;
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

safearray_data::safearray_data(SAFEARRAY* array) : array_(array)
{
    if (HRESULT hr = SafeArrayAccessData(array, &data_); FAILED(hr))
        throw win32_hresult_error(message_id::bad_array, hr);
}

safearray_data::~safearray_data()
{
    SafeArrayUnaccessData(array_);
}

} // namespace morvane
