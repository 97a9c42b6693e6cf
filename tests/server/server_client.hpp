#pragma once
// Morvane.dll as a client reaches it: by its file in the build's bin directory, through its
// four exports, and through COM.
#include <windows.h>
#include <objbase.h>
#include <memory>
#include <string>
#include <type_traits>
#include <wrl/client.h>

namespace server_tests {

template <typename T>
using com_ptr = Microsoft::WRL::ComPtr<T>;

// Full path of a file in the directory that the build ships Morvane.dll in.
std::wstring shipped_file(const wchar_t* name);
// The directory of a full path, without the final separator.
std::wstring directory_of(const std::wstring& path);

struct module_free {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using unique_module = std::unique_ptr<std::remove_pointer_t<HMODULE>, module_free>;

// The module loaded by path, with its exports looked up by name.
class server_module {
public:
    explicit server_module(const std::wstring& path);

    bool loaded() const noexcept { return module_ != nullptr; }
    HMODULE handle() const noexcept { return module_.get(); }

    HRESULT can_unload_now() const;
    HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** out) const;
    HRESULT register_server() const;
    HRESULT unregister_server() const;

    // The class object of FmtdIOCls as IClassFactory; null on failure.
    com_ptr<IClassFactory> class_factory() const;

private:
    FARPROC entry(const char* name) const;

    unique_module module_;
};

// Runs a program to its end; its exit code, or ~0u when it could not be started.
DWORD run_program(std::wstring command_line);
// regsvr32 /s, or /u /s, on a module.
DWORD regsvr32(const std::wstring& module, bool unregister = false);

// A COM apartment for one thread's lifetime.
class apartment {
public:
    explicit apartment(DWORD model) { result_ = CoInitializeEx(nullptr, model); }
    ~apartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    apartment(const apartment&) = delete;
    apartment& operator=(const apartment&) = delete;
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

} // namespace server_tests
