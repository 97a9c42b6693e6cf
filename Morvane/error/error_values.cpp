#include "error/error_values.hpp"

#include "platform/ansi.hpp"

namespace morvane {

resource_string error_source(message_id::error_source);
std::wstring help_file_path;

void initialize_error_values()
{
    resource_string help_file_name(message_id::help_file_name);
    error_source.load();

    // The help file sits beside the module loaded under the source's name; where no such
    // module is loaded the system answers with the executable, so the file is looked for there.
    char module_name[260] = "";
    const char* source = error_source.narrow();
    const DWORD name_length =
        GetModuleFileNameA(GetModuleHandleA(source ? source : ""), module_name, sizeof module_name);

    // Without a directory to name, the help file goes by its name alone.
    char full_path[260] = "";
    char* file_part = nullptr;
    const DWORD path_length = name_length ? GetFullPathNameA(module_name, sizeof full_path, full_path, &file_part) : 0;
    if (path_length == 0 || path_length >= sizeof full_path || !file_part)
        full_path[0] = '\0';
    else
        *file_part = '\0';

    const wchar_t* name = help_file_name.wide();
    help_file_path = from_ansi(full_path) + (name ? name : L"");
}

} // namespace morvane
