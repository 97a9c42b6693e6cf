#pragma once
// Text crosses the interface as UTF-16 and the wire as bytes in the system ANSI code page.
// Characters that the code page cannot represent become its default character.
#include <windows.h>
#include <oleauto.h>
#include <span>
#include <string>
#include <string_view>
#include "platform/bstr.hpp"

namespace morvane {

// Whether every character of the ANSI code page is one byte, so that a text of n characters
// is n bytes and may be converted in pieces cut anywhere.
bool ansi_is_single_byte() noexcept;

// Converting raises platform_error when the platform fails.
std::string to_ansi(std::wstring_view text);
std::wstring from_ansi(std::string_view bytes);

// Single-byte code page only: the n characters of `text` as n bytes at `to`.
void to_ansi_bytes(std::wstring_view text, unsigned char* to);
// Characters that `bytes` give, and the conversion into exactly that many at `to`.
std::size_t ansi_length(std::span<const unsigned char> bytes);
void from_ansi_bytes(std::span<const unsigned char> bytes, wchar_t* to, std::size_t length);

// ASCII text (a protocol's, a library's message) as the same characters.
inline std::wstring widened(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A BSTR of the text; raises _com_error(E_OUTOFMEMORY) when the string cannot be allocated.
unique_bstr ansi_to_bstr(std::string_view bytes);

} // namespace morvane
