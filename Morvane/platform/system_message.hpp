#pragma once
// The platform's text for a system error code or HRESULT, in the user's language, without the
// line break it ends with; empty when the platform has none.
#include <windows.h>
#include <string>

namespace morvane {

std::wstring system_message(DWORD code);
// The same as a clause to follow a colon: without its full stop, and "error N" when the
// platform has no text.
std::wstring system_clause(DWORD code);

} // namespace morvane
