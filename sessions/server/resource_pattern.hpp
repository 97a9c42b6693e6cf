#pragma once
// FindResources' expressions: `?` is any one character, `*` repeats what comes before it
// (so `?*` is anything), `+` once or more, `[...]` a set, `(a|b)` alternatives, `\` makes
// the next character plain; letters match in either case.
#include <optional>
#include <regex>
#include <string_view>

namespace morvane::sessions {

// None when the expression is not well formed.
std::optional<std::wregex> resource_pattern(std::wstring_view expression);

} // namespace morvane::sessions
