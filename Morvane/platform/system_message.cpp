#include "platform/system_message.hpp"

#include "platform/unique_any.hpp"

namespace morvane {

std::wstring system_message(DWORD code)
{
    unique_any<HLOCAL, &LocalFree> buffer;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer)
        return {};
    std::wstring text(static_cast<const wchar_t*>(buffer.get()), length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

std::wstring system_clause(DWORD code)
{
    std::wstring text = system_message(code);
    while (!text.empty() && text.back() == L'.')
        text.pop_back();
    return text.empty() ? L"error " + std::to_wstring(code) : text;
}

} // namespace morvane
