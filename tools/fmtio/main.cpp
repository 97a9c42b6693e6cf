// fmtio: formatted I/O with an instrument through the Morvane component, from the command
// line. Exit codes: 0 success, 1 I/O or instrument failure, 2 usage error.
#include <windows.h>
#include <objbase.h>
#include <string>
#include <vector>
#include "commands.hpp"
#include "console.hpp"
#include "demo.hpp"
#include "failure.hpp"
#include "platform/com_apartment.hpp"
#include "shell.hpp"
#include "text.hpp"

namespace {

using namespace fmtio;

constexpr std::string_view hint = "Try 'fmtio --help'.\n";

int run(const std::vector<std::string>& arguments)
{
    const invocation given = parse_command_line(arguments);
    set_ascii_only(given.ascii);
    const request& what = given.first;
    if (show_help(what, false))
        return exit_success;
    const morvane::com_apartment apartment(COINIT_APARTMENTTHREADED);
    check(apartment.result(), nullptr, IID_NULL, "CoInitializeEx", "");
    if (what.what == subcommand::find) { // needs no session
        list_resources(create_resource_manager().object.Get(), what);
        return exit_success;
    }
    bound_component io({given.dll, given.resource, what.trace, what.timeout.value_or(2000)});
    if (what.timeout)
        io.set_timeout(*what.timeout);
    if (given.serial)
        io.set_serial_line(*given.serial);
    switch (what.what) {
    case subcommand::shell: return run_shell(io, what.echo);
    case subcommand::demo: return run_demo(io);
    default: run_request(io, what); return exit_success;
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int code = exit_failure;
    try {
        std::vector<std::string> arguments;
        for (int i = 1; i < argc; ++i)
            arguments.push_back(to_utf8(argv[i]));
        code = run(arguments);
    } catch (...) {
        code = report_current_exception(hint);
    }
    if (standard_output().failed()) {
        standard_error().write("fmtio: the output could not be written\n");
        return exit_failure;
    }
    return code;
}
