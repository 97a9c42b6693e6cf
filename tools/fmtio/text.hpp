#pragma once
// Text inside fmtio is UTF-8 in std::string; the platform's is UTF-16.
#include <windows.h>
#include <string>
#include <string_view>
#include <vector>
#include "platform/bstr.hpp"

namespace fmtio {

std::string to_utf8(std::wstring_view text);
std::wstring to_wide(std::string_view text);
// A BSTR's text (null is the empty string), and a new BSTR of UTF-8 text.
std::string bstr_to_utf8(BSTR text);
morvane::unique_bstr utf8_to_bstr(std::string_view text);

// The texts with `separator` between them.
std::string joined(const std::vector<std::string>& texts, std::string_view separator);

// ASCII case-insensitive equality, for names that the user types.
bool same_name(std::string_view a, std::string_view b);

} // namespace fmtio
