// Registers, or with /u unregisters, a type library file on this machine. Installing
// Morvane.dll needs the VISA COM standard library registered; where nothing else has
// registered it, this does it with the stand-in shipped beside the DLL:
//
//     register_typelib visacom.tlb        then   regsvr32 Morvane.dll
//     register_typelib /u visacom.tlb     after  regsvr32 /u Morvane.dll
//
// Exit code 0 on success, 1 on failure (with the HRESULT on stderr), 2 on a usage error.
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <wrl/client.h>
#include "registration/type_library_registration.hpp"

namespace {

using Microsoft::WRL::ComPtr;

// The platform records the path it is given, so it must be a full one.
std::wstring full_path(const wchar_t* file)
{
    const DWORD length = GetFullPathNameW(file, 0, nullptr, nullptr);
    if (length == 0)
        return file;
    std::wstring path(length, L'\0');
    const DWORD written = GetFullPathNameW(file, length, path.data(), nullptr);
    if (written == 0 || written >= length)
        return file;
    path.resize(written);
    return path;
}

HRESULT register_file(std::wstring path)
{
    ComPtr<ITypeLib> library;
    if (HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library); FAILED(hr))
        return hr;
    return RegisterTypeLib(library.Get(), path.data(), nullptr);
}

HRESULT unregister_file(const std::wstring& path)
{
    ComPtr<ITypeLib> library;
    if (HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library); FAILED(hr))
        return hr;
    return morvane::unregister_type_library(*library.Get());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool unregister = argc == 3 && (std::wcscmp(argv[1], L"/u") == 0 || std::wcscmp(argv[1], L"-u") == 0);
    if (argc != 2 && !unregister) {
        std::fputs("usage: register_typelib [/u] <library.tlb>\n", stderr);
        return 2;
    }
    const std::wstring path = full_path(argv[argc - 1]);
    const HRESULT hr = unregister ? unregister_file(path) : register_file(path);
    if (FAILED(hr)) {
        std::fprintf(stderr, "register_typelib: %ls failed: 0x%08lX\n",
                     unregister ? L"unregistration" : L"registration", static_cast<unsigned long>(hr));
        return 1;
    }
    return 0;
}
