#include "format/arguments.hpp"

#include <comdef.h>
#include "error/errors.hpp"

namespace morvane {

VARTYPE element_code(std::uint32_t type, HRESULT hr)
{
    switch (type) {
    // clang-format off
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_BSTR: case VT_VARIANT: case VT_UI1:
        return static_cast<VARTYPE>(type);
        // clang-format on
    }
    raise({message_id::bad_number_type, 1028, hr});
}

void copy_argument(unique_variant& copy, const VARIANT& argument)
{
    // A plain number is copied as it is; the platform's copy does nothing else with it.
    switch (V_VT(&argument)) {
    // clang-format off
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_UI1: case VT_I1: case VT_UI2: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: case VT_BOOL: case VT_CY: case VT_DATE: case VT_ERROR:
        // clang-format on
        copy.clear();
        *copy.get() = argument;
        return;
    }
    if (HRESULT hr = copy.copy_from(argument); FAILED(hr))
        throw _com_error(hr);
}

void coerce(unique_variant& value, VARTYPE type)
{
    if (value.type() == type)
        return; // the platform's conversion would change nothing
    if (HRESULT hr = value.change_type(type); FAILED(hr))
        throw win32_hresult_error(message_id::coercion_failed, hr);
}

index_range bounds_of(const safearray_view& array)
{
    index_range range{0, -1};
    if (HRESULT hr = array.bounds(range.lower, range.upper); FAILED(hr))
        throw win32_hresult_error(message_id::bad_array, hr);
    return range;
}

void fetch_element(const safearray_view& array, LONG index, unique_variant& element)
{
    if (HRESULT hr = array.fetch(index, element); FAILED(hr))
        throw win32_hresult_error(message_id::bad_array, hr);
}

} // namespace morvane
