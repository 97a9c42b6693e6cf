#include "server/resource_pattern.hpp"

#include <string>

namespace morvane::sessions {

std::optional<std::wregex> resource_pattern(std::wstring_view expression)
{
    std::wstring regex;
    for (std::size_t i = 0; i < expression.size(); ++i) {
        const wchar_t c = expression[i];
        if (c == L'\\') {
            if (++i == expression.size())
                return std::nullopt;
            regex += L'\\';
            regex += expression[i];
        } else if (c == L'?') {
            regex += L'.';
        } else if (std::wstring_view(L"*+[]^-()|").find(c) != std::wstring_view::npos) {
            regex += c;
        } else if (std::wstring_view(L".${}").find(c) != std::wstring_view::npos) {
            regex += L'\\';
            regex += c;
        } else if (c == 0) {
            return std::nullopt;
        } else {
            regex += c;
        }
    }
    try {
        return std::wregex(regex, std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error&) {
        return std::nullopt;
    }
}

} // namespace morvane::sessions
