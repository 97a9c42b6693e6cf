#pragma once
// The standard streams as UTF-8 text: a console gets UTF-16 through WriteConsoleW and
// ReadConsoleW, pipes and files get the UTF-8 bytes.
#include <windows.h>
#include <optional>
#include <string>
#include <string_view>

namespace fmtio {

class text_out {
public:
    explicit text_out(DWORD which);
    text_out(const text_out&) = delete;
    text_out& operator=(const text_out&) = delete;

    void write(std::string_view utf8);
    bool is_console() const noexcept { return m_console; }
    // True once a write has failed, other than into a pipe that its reader closed (as
    // `| head` does), which ends the output without being a failure to report.
    bool failed() const noexcept { return m_failed && !m_closed; }

private:
    HANDLE m_handle;
    bool m_console;
    void fail() noexcept;

    bool m_failed = false;
    bool m_closed = false;
};

text_out& standard_output();
text_out& standard_error();

// Every character outside ASCII becomes "?", for terminals that cannot show it.
void set_ascii_only(bool on);
bool ascii_only();

// Lines of standard input without their line ends; nothing at the end of the input.
class line_reader {
public:
    line_reader();
    std::optional<std::string> next();
    bool is_console() const noexcept { return m_console; }

private:
    bool fill();

    HANDLE m_handle;
    bool m_console;
    bool m_ended = false;
    std::string m_pending;
};

} // namespace fmtio
