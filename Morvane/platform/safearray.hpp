#pragma once
// Owning SAFEARRAY, scoped access to its data, and a view of the array that a VARIANT holds.
// Failures raise safearray_error; the layers above give it the component's messages.
#include <windows.h>
#include <oleauto.h>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include "platform/platform_error.hpp"
#include "platform/unique_any.hpp"
#include "platform/variant.hpp"

namespace morvane {

class safearray_error : public platform_error {
public:
    // `creation`: the array itself could not be made (no memory).
    safearray_error(const char* call, HRESULT hr, bool creation = false)
        : platform_error(call, hr), m_creation(creation)
    {}
    bool creation() const noexcept { return m_creation; }

private:
    bool m_creation;
};

using unique_safearray = unique_any<SAFEARRAY*, &SafeArrayDestroy>;

// A one-dimensional byte array, lower bound 0, that describes bytes owned elsewhere: handing
// bytes to the platform through it copies nothing. The bytes must outlive each use.
class borrowed_byte_array {
public:
    borrowed_byte_array();
    ~borrowed_byte_array();
    borrowed_byte_array(const borrowed_byte_array&) = delete;
    borrowed_byte_array& operator=(const borrowed_byte_array&) = delete;

    SAFEARRAY* describe(const unsigned char* bytes, std::size_t count) noexcept;

private:
    SAFEARRAY* m_array = nullptr;
};

// Number of elements of the first dimension.
std::size_t element_count(SAFEARRAY* array);
// Number of elements of all dimensions together, SIZE_MAX when that does not fit.
std::size_t cell_count(const SAFEARRAY* array) noexcept;

// SafeArrayAccessData for the lifetime of the guard.
class safearray_data {
public:
    explicit safearray_data(SAFEARRAY* array);
    ~safearray_data();
    safearray_data(const safearray_data&) = delete;
    safearray_data& operator=(const safearray_data&) = delete;

    unsigned char* bytes() const noexcept { return static_cast<unsigned char*>(m_data); }

private:
    SAFEARRAY* m_array;
    void* m_data = nullptr;
};

// An array that is owned and held open for reading its data until it is destroyed.
class accessed_safearray {
public:
    explicit accessed_safearray(unique_safearray array) : m_array(std::move(array)), m_data(m_array.get()) {}
    const unsigned char* bytes() const noexcept { return m_data.bytes(); }

private:
    unique_safearray m_array;
    safearray_data m_data; // given back before the array is destroyed
};

// The array that a VARIANT holds, directly or through VT_BYREF, with the element type the
// VARIANT names. Failures come back as HRESULTs.
class safearray_view {
public:
    // None when the VARIANT has no VT_ARRAY flag.
    static std::optional<safearray_view> of(const VARIANT& holder) noexcept;

    SAFEARRAY* array() const noexcept { return m_array; }
    VARTYPE element_type() const noexcept { return m_element_type; }
    // 0 for a null array.
    UINT dimensions() const noexcept { return m_array ? SafeArrayGetDim(m_array) : 0; }
    // Bounds of the first dimension.
    HRESULT bounds(LONG& lower, LONG& upper) const noexcept;
    // Element `index` as a VARIANT of the element type; an array of VARIANT gives a copy of
    // the element itself, strings and interfaces are copied.
    HRESULT fetch(LONG index, unique_variant& element) const noexcept;

private:
    safearray_view(SAFEARRAY* array, VARTYPE element_type) noexcept : m_array(array), m_element_type(element_type) {}

    SAFEARRAY* m_array;
    VARTYPE m_element_type;
};

} // namespace morvane
