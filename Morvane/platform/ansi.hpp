#pragma once
// Text crosses the interface as UTF-16 and the wire as bytes in the system ANSI code page.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>
#include "platform/bstr.hpp"

namespace morvane {

// Unrepresentable characters become the code page's default character.
std::string to_ansi(std::wstring_view text);
std::wstring from_ansi(std::string_view bytes);
// Raises _com_error(E_OUTOFMEMORY) when the string cannot be allocated.
unique_bstr ansi_to_bstr(std::string_view bytes);

} // namespace morvane
