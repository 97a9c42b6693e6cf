#include "platform/safearray.hpp"

#include <climits>
#include <cstdint>

namespace morvane {

borrowed_byte_array::borrowed_byte_array()
{
    if (HRESULT hr = SafeArrayAllocDescriptorEx(VT_UI1, 1, &m_array); FAILED(hr))
        throw safearray_error("SafeArrayAllocDescriptorEx", hr, true);
    // The array does not own its data: destroying it never frees (or clears) the bytes.
    m_array->fFeatures |= FADF_AUTO;
    m_array->rgsabound[0] = {0, 0};
}

borrowed_byte_array::~borrowed_byte_array()
{
    m_array->pvData = nullptr;
    // Fails only while a session still holds the array locked; then the descriptor is left to it.
    SafeArrayDestroyDescriptor(m_array);
}

SAFEARRAY* borrowed_byte_array::describe(const unsigned char* bytes, std::size_t count) noexcept
{
    m_array->pvData = const_cast<unsigned char*>(bytes); // a session only reads what it is given
    m_array->rgsabound[0] = {static_cast<ULONG>(count), 0};
    return m_array;
}

std::size_t element_count(SAFEARRAY* array)
{
    LONG lower = 0, upper = -1;
    if (HRESULT hr = SafeArrayGetLBound(array, 1, &lower); FAILED(hr))
        throw safearray_error("SafeArrayGetLBound", hr);
    if (HRESULT hr = SafeArrayGetUBound(array, 1, &upper); FAILED(hr))
        throw safearray_error("SafeArrayGetUBound", hr);
    const LONGLONG count = LONGLONG(upper) - lower + 1;
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::size_t cell_count(const SAFEARRAY* array) noexcept
{
    std::size_t cells = 1;
    for (USHORT i = 0; i < array->cDims; ++i)
        if (__builtin_mul_overflow(cells, std::size_t(array->rgsabound[i].cElements), &cells))
            return SIZE_MAX;
    return cells;
}

safearray_data::safearray_data(SAFEARRAY* array) : m_array(array)
{
    if (HRESULT hr = SafeArrayAccessData(array, &m_data); FAILED(hr))
        throw safearray_error("SafeArrayAccessData", hr);
}

safearray_data::~safearray_data()
{
    // Fails only for an array that was not accessed, which the constructor rules out.
    SafeArrayUnaccessData(m_array);
}

std::optional<safearray_view> safearray_view::of(const VARIANT& holder) noexcept
{
    const VARTYPE type = V_VT(&holder);
    if (!(type & VT_ARRAY))
        return std::nullopt;
    SAFEARRAY* array = nullptr;
    if (type & VT_BYREF)
        array = V_ARRAYREF(&holder) ? *V_ARRAYREF(&holder) : nullptr;
    else
        array = V_ARRAY(&holder);
    return safearray_view(array, static_cast<VARTYPE>(type & ~(VT_ARRAY | VT_BYREF)));
}

HRESULT safearray_view::bounds(LONG& lower, LONG& upper) const noexcept
{
    if (HRESULT hr = SafeArrayGetLBound(m_array, 1, &lower); FAILED(hr))
        return hr;
    return SafeArrayGetUBound(m_array, 1, &upper);
}

HRESULT safearray_view::fetch(LONG index, unique_variant& element) const noexcept
{
    element.clear();
    // The element is copied as the array itself describes it: its own type must be the one
    // the VARIANT names, and it must fit where it is fetched to.
    VARTYPE own_type = VT_EMPTY;
    if (SUCCEEDED(SafeArrayGetVartype(m_array, &own_type)) && own_type != m_element_type)
        return DISP_E_TYPEMISMATCH;
    VARIANT& value = *element.get();
    if (m_element_type == VT_VARIANT) {
        if (SafeArrayGetElemsize(m_array) != sizeof(VARIANT))
            return DISP_E_BADVARTYPE;
        return SafeArrayGetElement(m_array, &index, &value);
    }
    // A record's data has no place in a VARIANT: the VARIANT only points to records.
    if (m_element_type == VT_RECORD)
        return DISP_E_BADVARTYPE;
    // DECIMAL fills the whole VARIANT, its type field included; every other type sits in the union.
    const bool decimal = m_element_type == VT_DECIMAL;
    if (SafeArrayGetElemsize(m_array) > (decimal ? sizeof(DECIMAL) : sizeof(value.llVal) * 2))
        return DISP_E_BADVARTYPE;
    void* into = decimal ? static_cast<void*>(&V_DECIMAL(&value)) : static_cast<void*>(&value.llVal);
    if (HRESULT hr = SafeArrayGetElement(m_array, &index, into); FAILED(hr))
        return hr;
    V_VT(&value) = m_element_type;
    return S_OK;
}

} // namespace morvane
