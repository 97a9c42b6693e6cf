#pragma once
// The thread's error information, read back field by field for assertions.
#include <windows.h>
#include <oaidl.h>
#include <optional>
#include <string>

namespace morvane::testing {

struct error_record {
    std::wstring description;
    std::wstring source;
    std::wstring help_file;
    DWORD help_context = 0;
    GUID interface_id = GUID_NULL;
};

error_record read_record(IErrorInfo* record);
// Takes the thread's error information (clearing it); nothing when there is none.
std::optional<error_record> take_thread_error();
// Clears the thread's error information.
void clear_thread_error();

} // namespace morvane::testing
