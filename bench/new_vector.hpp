#pragma once
// A new one-dimensional array, lower bound 0, for a case's data; the benchmark stops when
// there is no memory for it.
#include <windows.h>
#include <oleauto.h>
#include <cstddef>
#include "measure.hpp"
#include "platform/safearray.hpp"

inline morvane::unique_safearray new_vector(VARTYPE type, std::size_t count)
{
    morvane::unique_safearray made(SafeArrayCreateVector(type, 0, static_cast<ULONG>(count)));
    if (!made)
        check(E_OUTOFMEMORY, "SafeArrayCreateVector");
    return made;
}

// The elements of an array whose data is accessed, as `Element`.
template<typename Element> Element* elements(const morvane::safearray_data& data) noexcept
{
    return reinterpret_cast<Element*>(data.bytes());
}
