#include "registration/type_library_registration.hpp"

#include <oleauto.h>
#include <new>
#include <string>
#include <wrl/client.h>
#include "platform/bstr.hpp"

namespace morvane {
namespace {

using Microsoft::WRL::ComPtr;

// The module's file name in a buffer of MAX_PATH characters. A name that fills the buffer
// may have been cut short, so it counts as too long rather than naming the wrong file.
HRESULT limited_module_file_name(HMODULE module, std::wstring& path)
{
    wchar_t name[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, name, MAX_PATH);
    if (length == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(name, length);
    return S_OK;
}

// "dir\Morvane.dll" gives "dir\Morvane.tlb"; a name without an extension gains one.
std::wstring tlb_beside(const std::wstring& module_path)
{
    const std::size_t name_start = module_path.find_last_of(L"\\/:");
    const std::size_t dot = module_path.rfind(L'.');
    const bool has_extension = dot != std::wstring::npos && (name_start == std::wstring::npos || dot > name_start);
    return (has_extension ? module_path.substr(0, dot) : module_path) + L".tlb";
}

// Loads the library and tells where from.
HRESULT load_library(HMODULE module, ComPtr<ITypeLib>& library, std::wstring& path)
{
    if (HRESULT hr = limited_module_file_name(module, path); FAILED(hr))
        return hr;
    if (SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)))
        return S_OK;
    path = tlb_beside(path);
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
}

// The directory of the library's help file, through its last separator; empty without one.
HRESULT help_directory(ITypeLib& library, std::wstring& directory)
{
    BSTR help_file = nullptr;
    if (HRESULT hr = library.GetDocumentation(-1, nullptr, nullptr, nullptr, &help_file); FAILED(hr))
        return hr;
    const unique_bstr owned(help_file);
    const std::wstring_view file = bstr_view(help_file);
    const std::size_t end = file.find_last_of(L"\\/:");
    directory = end == std::wstring_view::npos ? std::wstring() : std::wstring(file.substr(0, end + 1));
    return S_OK;
}

// Loads the module's library and runs one registration step on it.
template<typename Step> HRESULT with_module_library(HMODULE module, Step&& step) noexcept
{
    try {
        ComPtr<ITypeLib> library;
        std::wstring path;
        if (HRESULT hr = load_library(module, library, path); FAILED(hr))
            return hr;
        return step(*library.Get(), path);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace

HRESULT register_type_library(HMODULE module) noexcept
{
    return with_module_library(module, [](ITypeLib& library, std::wstring& path) {
        std::wstring directory;
        if (HRESULT hr = help_directory(library, directory); FAILED(hr))
            return hr;
        return RegisterTypeLib(&library, path.data(), directory.empty() ? nullptr : directory.data());
    });
}

HRESULT unregister_type_library(HMODULE module) noexcept
{
    return with_module_library(module,
                               [](ITypeLib& library, std::wstring&) { return unregister_type_library(library); });
}

HRESULT unregister_type_library(ITypeLib& library) noexcept
{
    TLIBATTR* attributes = nullptr;
    if (HRESULT hr = library.GetLibAttr(&attributes); FAILED(hr))
        return hr;
    const TLIBATTR copy = *attributes;
    library.ReleaseTLibAttr(attributes);
    return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

} // namespace morvane
