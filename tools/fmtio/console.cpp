#include "console.hpp"

#include <algorithm>
#include <climits>
#include "text.hpp"

namespace fmtio {
namespace {

bool m_ascii_only = false;

bool is_console_handle(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

std::string to_ascii(std::string_view utf8)
{
    std::string result;
    result.reserve(utf8.size());
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            result += c;
        else if (byte >= 0xC0) // a lead byte; continuation bytes are dropped
            result += '?';
    }
    return result;
}

} // namespace

text_out::text_out(DWORD which) : m_handle(GetStdHandle(which)), m_console(is_console_handle(m_handle)) {}

void text_out::write(std::string_view utf8)
{
    if (m_failed || utf8.empty())
        return;
    const std::string ascii = m_ascii_only ? to_ascii(utf8) : std::string();
    if (m_ascii_only)
        utf8 = ascii;
    if (m_console) {
        const std::wstring wide = to_wide(utf8);
        DWORD written = 0;
        for (std::size_t at = 0; at < wide.size(); at += written) {
            const DWORD count = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 16384));
            if (!WriteConsoleW(m_handle, wide.data() + at, count, &written, nullptr) || written == 0)
                return fail();
        }
        return;
    }
    DWORD written = 0;
    for (std::size_t at = 0; at < utf8.size(); at += written) {
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(utf8.size() - at, INT_MAX));
        if (!WriteFile(m_handle, utf8.data() + at, count, &written, nullptr) || written == 0)
            return fail();
    }
}

void text_out::fail() noexcept
{
    const DWORD error = GetLastError();
    m_failed = true;
    m_closed = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
}

text_out& standard_output()
{
    static text_out out(STD_OUTPUT_HANDLE);
    return out;
}

text_out& standard_error()
{
    static text_out err(STD_ERROR_HANDLE);
    return err;
}

void set_ascii_only(bool on) { m_ascii_only = on; }

bool ascii_only() { return m_ascii_only; }

line_reader::line_reader() : m_handle(GetStdHandle(STD_INPUT_HANDLE)), m_console(is_console_handle(m_handle)) {}

std::optional<std::string> line_reader::next()
{
    for (;;) {
        if (const std::size_t end = m_pending.find('\n'); end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (m_ended || !fill()) {
            m_ended = true;
            if (m_pending.empty())
                return std::nullopt;
            std::string line = std::move(m_pending);
            m_pending.clear();
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
    }
}

// Appends what the input has next; false at its end or when it cannot be read.
bool line_reader::fill()
{
    if (m_console) {
        wchar_t buffer[1024];
        DWORD count = 0;
        if (!ReadConsoleW(m_handle, buffer, 1024, &count, nullptr) || count == 0)
            return false;
        std::wstring_view text(buffer, count);
        if (const std::size_t end_mark = text.find(L'\x1A'); end_mark != text.npos) { // Ctrl+Z
            m_pending += to_utf8(text.substr(0, end_mark));
            return false;
        }
        m_pending += to_utf8(text);
        return true;
    }
    char buffer[4096];
    DWORD count = 0;
    if (!ReadFile(m_handle, buffer, sizeof buffer, &count, nullptr) || count == 0)
        return false;
    m_pending.append(buffer, count);
    return true;
}

} // namespace fmtio
