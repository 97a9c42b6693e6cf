#pragma once
// Failures and how they are reported. Exit codes are small and fixed: an HRESULT is no exit
// code, since only its low 8 bits would survive.
#include <windows.h>
#include <unknwn.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fmtio {

enum exit_code : int { exit_success = 0, exit_failure = 1, exit_usage = 2 };

// Bad input from the user: a message, and exit code 2.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What an object left in the thread's error information.
struct error_record {
    std::string description;
    std::string source;
    std::string help_file;
    DWORD help_context = 0;
};

// A call that failed: a method of the component or the session, or a platform function.
class failure : public std::runtime_error {
public:
    // `context` says what the call was about, such as: command "*IDN?".
    failure(std::string method, std::string context, HRESULT hr, std::optional<error_record> record);

    HRESULT hr() const noexcept { return m_hr; }
    const std::optional<error_record>& record() const noexcept { return m_record; }
    // The lines printed for it, each ending with a line feed.
    std::string report() const;

private:
    std::string m_method;
    std::string m_context;
    HRESULT m_hr;
    std::optional<error_record> m_record;
};

// Throws a failure when `hr` failed, with the error information that `object` left for calls
// through `iid` if it says it leaves any.
void check(HRESULT hr, IUnknown* object, REFIID iid, std::string_view method, std::string_view context);

// The same for a function that leaves a record when it fails, called with none on the thread.
void check_fresh(HRESULT hr, std::string_view method, std::string_view context);

// Throws a failure for a platform function that failed with GetLastError().
[[noreturn]] void throw_last_error(std::string_view function, std::string_view context);

std::string hex(unsigned long value);
// `text` in double quotes.
std::string quoted(std::string_view text);

} // namespace fmtio

namespace fmtio {

// Reports the exception being handled on stderr and gives its exit code; `hint` follows a
// usage error's message.
int report_current_exception(std::string_view hint);

} // namespace fmtio
