#include "platform/ansi.hpp"

#include <comdef.h>
#include <climits>
#include "platform/platform_error.hpp"

namespace morvane {
namespace {

int checked_length(std::size_t size)
{
    if (size > INT_MAX)
        throw platform_error("text longer than the platform converts", E_INVALIDARG);
    return static_cast<int>(size);
}

[[noreturn]] void conversion_failed(const char* call)
{
    throw platform_error(call, HRESULT_FROM_WIN32(GetLastError()));
}

} // namespace

bool ansi_is_single_byte() noexcept
{
    static const bool single = [] {
        CPINFO info{};
        return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
    }();
    return single;
}

std::string to_ansi(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = checked_length(text.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        conversion_failed("WideCharToMultiByte");
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text.data(), length, bytes.data(), size, nullptr, nullptr) != size)
        conversion_failed("WideCharToMultiByte");
    return bytes;
}

std::wstring from_ansi(std::string_view bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::wstring text(ansi_length({data, bytes.size()}), L'\0');
    from_ansi_bytes({data, bytes.size()}, text.data(), text.size());
    return text;
}

void to_ansi_bytes(std::wstring_view text, unsigned char* to)
{
    if (text.empty())
        return;
    const int length = checked_length(text.size());
    if (WideCharToMultiByte(CP_ACP, 0, text.data(), length, reinterpret_cast<char*>(to), length, nullptr, nullptr) !=
        length)
        conversion_failed("WideCharToMultiByte");
}

std::size_t ansi_length(std::span<const unsigned char> bytes)
{
    if (bytes.empty())
        return 0;
    const int length = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes.data()),
                                           checked_length(bytes.size()), nullptr, 0);
    if (length <= 0)
        conversion_failed("MultiByteToWideChar");
    return static_cast<std::size_t>(length);
}

void from_ansi_bytes(std::span<const unsigned char> bytes, wchar_t* to, std::size_t length)
{
    if (bytes.empty())
        return;
    if (MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes.data()), checked_length(bytes.size()), to,
                            checked_length(length)) != static_cast<int>(length))
        conversion_failed("MultiByteToWideChar");
}

unique_bstr ansi_to_bstr(std::string_view bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t length = ansi_length({data, bytes.size()});
    unique_bstr text(length <= UINT_MAX ? SysAllocStringLen(nullptr, static_cast<UINT>(length)) : nullptr);
    if (!text)
        throw _com_error(E_OUTOFMEMORY);
    from_ansi_bytes({data, bytes.size()}, text.get(), length);
    return text;
}

} // namespace morvane
