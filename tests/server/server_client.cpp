#include "server_client.hpp"

#include "server_ids.hpp"

namespace server_tests {
namespace {

// Through void (*)(): the one function pointer type that converts to any other without a
// cast-function-type warning.
template <typename Function>
Function as(FARPROC entry)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

struct handle_close {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using unique_handle = std::unique_ptr<void, handle_close>;

using no_argument_export = HRESULT(STDAPICALLTYPE*)();
using get_class_object_export = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

} // namespace

std::wstring directory_of(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring shipped_file(const wchar_t* name)
{
    wchar_t executable[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, executable, MAX_PATH);
    // MORVANE_BIN_FROM_TESTS: the bin directory relative to the test executable's.
    const std::wstring relative =
        directory_of(std::wstring(executable, length)) + L"\\" + MORVANE_BIN_FROM_TESTS + L"\\" + name;
    wchar_t full[MAX_PATH];
    const DWORD full_length = GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, full_length);
}

DWORD run_program(std::wstring command_line)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return ~0u;
    const unique_handle thread(process.hThread);
    const unique_handle program(process.hProcess);
    WaitForSingleObject(program.get(), INFINITE);
    DWORD code = ~0u;
    GetExitCodeProcess(program.get(), &code);
    return code;
}

DWORD regsvr32(const std::wstring& module, bool unregister)
{
    return run_program(std::wstring(L"regsvr32.exe ") + (unregister ? L"/u " : L"") + L"/s \"" + module + L"\"");
}

server_module::server_module(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}

FARPROC server_module::entry(const char* name) const
{
    return GetProcAddress(module_.get(), name);
}

HRESULT server_module::can_unload_now() const
{
    return as<no_argument_export>(entry("DllCanUnloadNow"))();
}

HRESULT server_module::get_class_object(REFCLSID clsid, REFIID riid, void** out) const
{
    return as<get_class_object_export>(entry("DllGetClassObject"))(clsid, riid, out);
}

HRESULT server_module::register_server() const
{
    return as<no_argument_export>(entry("DllRegisterServer"))();
}

HRESULT server_module::unregister_server() const
{
    return as<no_argument_export>(entry("DllUnregisterServer"))();
}

com_ptr<IClassFactory> server_module::class_factory() const
{
    com_ptr<IClassFactory> factory;
    get_class_object(clsid_fmtdio, IID_IClassFactory, &factory);
    return factory;
}

} // namespace server_tests
