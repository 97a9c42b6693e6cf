#pragma once
// The arguments of the data-path methods, read and checked in one place.
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <visacom.h>
#include "platform/safearray.hpp"
#include "platform/variant.hpp"

namespace morvane {

// The 32 bits of a number type as the client passed them. A client may pass any value, and
// most lie outside the enumeration's range, so the argument is read as bits, never as a value.
inline std::uint32_t type_bits(const NumberType& type) noexcept
{
    static_assert(sizeof(NumberType) == sizeof(std::uint32_t));
    std::uint32_t bits;
    std::memcpy(&bits, &type, sizeof bits);
    return bits;
}

// The type in which WriteNumber writes: the low 16 bits of the argument.
constexpr VARTYPE number_type(std::uint32_t type) noexcept { return static_cast<VARTYPE>(type & 0xFFFFu); }

// A list element code, one of 2, 3, 4, 5, 8, 12 and 17 with the whole 32-bit value compared;
// any other value raises message 110 with `hr`.
VARTYPE element_code(std::uint32_t type, HRESULT hr);

// A private copy of a VARIANT argument; a failed copy raises the platform's COM error.
void copy_argument(unique_variant& copy, const VARIANT& argument);

// The platform's coercion in place; a failure raises message 2008 with the platform's HRESULT.
void coerce(unique_variant& value, VARTYPE type);

// The bounds of an array's first dimension, as the array counts.
struct index_range {
    LONG lower;
    LONG upper;
    std::size_t count() const noexcept { return upper < lower ? 0 : std::size_t(LONGLONG(upper) - lower + 1); }
};
// Failures raise message 2003 with the platform's HRESULT.
index_range bounds_of(const safearray_view& array);
void fetch_element(const safearray_view& array, LONG index, unique_variant& element);

} // namespace morvane
