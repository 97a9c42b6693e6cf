#pragma once
// What a session hands across COM: error information, and bytes in SAFEARRAYs and BSTRs.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>

namespace morvane::sim {

inline constexpr const wchar_t* error_source = L"Morvane simulated instrument";

// Leaves error information naming the simulated instrument and IMessage on the thread; returns hr.
HRESULT failure(HRESULT hr, const wchar_t* description);
HRESULT out_of_memory();

// The first `count` bytes of a one-dimensional array of single-byte elements.
HRESULT bytes_of(SAFEARRAY* array, LONG count, std::string& bytes);
// A new one-dimensional VT_UI1 array, lower bound 0, holding the bytes.
HRESULT new_byte_array(std::string_view bytes, SAFEARRAY** out);
// A new BSTR of the bytes read in the system's ANSI code page.
HRESULT new_string(std::string_view bytes, BSTR* out);

} // namespace morvane::sim
