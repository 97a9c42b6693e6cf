#include "platform/ansi.hpp"

#include <comdef.h>
#include <climits>

namespace morvane {

std::string to_ansi(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring from_ansi(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    const int length = static_cast<int>(bytes.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), size);
    return text;
}

unique_bstr ansi_to_bstr(std::string_view bytes)
{
    if (bytes.size() > INT_MAX)
        throw _com_error(E_OUTOFMEMORY);
    const int length = static_cast<int>(bytes.size());
    const int size = length ? MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0) : 0;
    unique_bstr text(SysAllocStringLen(nullptr, static_cast<UINT>(size)));
    if (!text)
        throw _com_error(E_OUTOFMEMORY);
    if (size)
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.get(), size);
    return text;
}

} // namespace morvane
