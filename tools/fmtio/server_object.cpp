#include "server_object.hpp"

#include <cstdio>
#include <vector>
#include <morvane_sessions.h>
#include "class_ids.hpp"
#include "failure.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

std::wstring full_path(const std::wstring& file)
{
    const DWORD length = GetFullPathNameW(file.c_str(), 0, nullptr, nullptr);
    std::wstring path(length, L'\0');
    const DWORD written = length ? GetFullPathNameW(file.c_str(), length, path.data(), nullptr) : 0;
    if (written == 0 || written >= length)
        throw_last_error("GetFullPathName", "file " + quoted(to_utf8(file)));
    path.resize(written);
    return path;
}

std::wstring module_path(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            throw_last_error("GetModuleFileName", "");
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring beside_this_program(const wchar_t* name)
{
    std::wstring path = module_path(nullptr);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + name;
}

// `why` says why this file, also when it cannot be used.
std::string from_file(const server_class& which, const std::wstring& file, const std::string& why, REFIID iid,
                      library& module, void** out)
{
    const std::wstring path = full_path(file);
    const std::string context = "file " + quoted(to_utf8(path)) + ", " + why;
    library loaded(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH), &FreeLibrary);
    if (!loaded)
        throw_last_error("LoadLibrary", context);
    // void (*)() converts to any other function pointer type unwarned.
    const auto entry = reinterpret_cast<void (*)()>(GetProcAddress(loaded.get(), "DllGetClassObject"));
    if (!entry)
        throw_last_error("GetProcAddress(DllGetClassObject)", context);
    const auto get_class_object = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(entry);
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    check(get_class_object(*which.clsid, IID_PPV_ARGS(&factory)), nullptr, IID_IClassFactory, "DllGetClassObject",
          context);
    check(factory->CreateInstance(nullptr, iid, out), factory.Get(), IID_IClassFactory, "IClassFactory::CreateInstance",
          context);
    module = std::move(loaded);
    return "made from the file " + why;
}

bool not_registered(HRESULT hr)
{
    return hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING || hr == REGDB_E_READREGDB;
}

} // namespace

const server_class formatted_io_class{L"VISA.Tellurix", &morvane::CLSID_FmtdIOCls, L"Morvane.dll"};
const server_class resource_manager_class{L"Morvane.ResourceManager", &CLSID_ResourceManager, L"MorvaneSessions.dll"};

std::string create_object(const server_class& which, const std::optional<std::string>& dll, REFIID iid, library& module,
                          void** out)
{
    if (dll)
        return from_file(which, to_wide(*dll), "given by --dll", iid, module, out);
    const std::string progid = to_utf8(which.progid);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(which.progid, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
    if (not_registered(hr))
        return from_file(which, beside_this_program(which.dll_name),
                         "beside fmtio, as " + progid + " is not registered", iid, module, out);
    check(hr, nullptr, iid, "CoCreateInstance", "ProgID " + progid);
    return "made by its ProgID, " + progid;
}

module_facts describe_module(IUnknown* object)
{
    // The first word of a COM object is its vtable, which lies in the module's image.
    const auto vtable = *reinterpret_cast<const wchar_t* const*>(object);
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            vtable, &module))
        throw_last_error("GetModuleHandleEx", "");
    const std::wstring path = module_path(module);
    module_facts facts{to_utf8(path), {}};
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<unsigned char> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size && GetFileVersionInfoW(path.c_str(), 0, size, data.data()) &&
        VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
        length >= sizeof *fixed) {
        char text[64];
        std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
                      fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
        facts.version = text;
    }
    return facts;
}

} // namespace fmtio
