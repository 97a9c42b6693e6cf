#pragma once
// Text inside fmtio is UTF-8 in std::string; the platform's is UTF-16.
#include <string>
#include <string_view>
#include <vector>

namespace fmtio {

std::string to_utf8(std::wstring_view text);
std::wstring to_wide(std::string_view text);

// The texts with `separator` between them.
std::string joined(const std::vector<std::string>& texts, std::string_view separator);

// ASCII case-insensitive equality, for names that the user types.
bool same_name(std::string_view a, std::string_view b);

} // namespace fmtio
