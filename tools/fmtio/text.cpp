#include "text.hpp"

#include <windows.h>
#include <climits>
#include <stdexcept>

namespace fmtio {
namespace {

int checked_length(std::size_t size)
{
    if (size > INT_MAX)
        throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}

} // namespace

std::string to_utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = checked_length(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        throw std::runtime_error("text cannot be converted to UTF-8");
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), size, nullptr, nullptr);
    return result;
}

std::wstring to_wide(std::string_view text)
{
    if (text.empty())
        return {};
    const int length = checked_length(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (size <= 0)
        throw std::runtime_error("text cannot be converted from UTF-8");
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), size);
    return result;
}

std::string bstr_to_utf8(BSTR text) { return to_utf8(morvane::bstr_view(text)); }

morvane::unique_bstr utf8_to_bstr(std::string_view text) { return morvane::make_bstr(to_wide(text)); }

std::string joined(const std::vector<std::string>& texts, std::string_view separator)
{
    std::string line;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i)
            line += separator;
        line += texts[i];
    }
    return line;
}

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace fmtio
