// A client of the installed package that knows nothing but what registration gives it: the
// program identifiers, and the interfaces' identities spelled out here.
//
//   package_client query RESOURCE     opens RESOURCE through Morvane.ResourceManager, binds
//                                     VISA.Tellurix to it, asks *IDN? and prints the answer
//                                     and the file each class came from
//   package_client keys [+|-]KEY...   checks that each HKEY_CLASSES_ROOT key is there (+) or
//                                     not (-); prints every one that is wrong
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <visacom.h>
#include <morvane_sessions.h>
#include <wrl/client.h>

namespace {

using Microsoft::WRL::ComPtr;

constexpr IID iid_resource_manager = {0x8b83c8ac, 0x266b, 0x42f0, {0x93, 0x72, 0xce, 0xd9, 0xe4, 0x28, 0xb6, 0xce}};
constexpr IID iid_formatted_io = {0xdb8cbf1a, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};

struct failure {
    const char* what;
    HRESULT hr;
};

void check(HRESULT hr, const char* what)
{
    if (FAILED(hr))
        throw failure{what, hr};
}

struct com_apartment {
    com_apartment() { check(CoInitializeEx(nullptr, COINIT_MULTITHREADED), "CoInitializeEx"); }
    ~com_apartment() { CoUninitialize(); }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
};

struct bstr {
    explicit bstr(const wchar_t* text = nullptr) : value(text ? SysAllocString(text) : nullptr) {}
    ~bstr() { SysFreeString(value); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    BSTR value;
};

template <typename Interface>
ComPtr<Interface> create(const wchar_t* progid, const IID& iid)
{
    CLSID clsid{};
    check(CLSIDFromProgID(progid, &clsid), "CLSIDFromProgID");
    ComPtr<Interface> object;
    check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(object.GetAddressOf())),
          "CoCreateInstance");
    return object;
}

// The module whose image holds the object's first word, its table of methods.
std::wstring module_of(IUnknown* object)
{
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH] = L"?";
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           *reinterpret_cast<const wchar_t* const*>(object), &module))
        GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

int query(const wchar_t* resource)
{
    const com_apartment apartment;
    const auto manager = create<IMorvaneResourceManager>(L"Morvane.ResourceManager", iid_resource_manager);
    const bstr name(resource);
    ComPtr<IMessage> session;
    check(manager->Open(name.value, 5000, &session), "IMorvaneResourceManager::Open");
    const auto io = create<IFormattedIO488>(L"VISA.Tellurix", iid_formatted_io);
    check(io->putref_IO(session.Get()), "IFormattedIO488::putref_IO");
    const bstr command(L"*IDN?\n");
    check(io->WriteString(command.value, VARIANT_TRUE), "IFormattedIO488::WriteString");
    bstr answer;
    check(io->ReadString(&answer.value), "IFormattedIO488::ReadString");
    std::wstring text(answer.value, SysStringLen(answer.value));
    text.erase(text.find_last_not_of(L"\r\n") + 1);
    std::wprintf(L"answer: %ls\nresource manager: %ls\nsession: %ls\nformatted I/O: %ls\n", text.c_str(),
                 module_of(manager.Get()).c_str(), module_of(session.Get()).c_str(), module_of(io.Get()).c_str());
    return 0;
}

int keys(int count, wchar_t** names)
{
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        if (names[i][0] != L'+' && names[i][0] != L'-')
            throw failure{"reading a key's +/- sign", E_INVALIDARG};
        const bool wanted = names[i][0] == L'+';
        HKEY key = nullptr;
        const bool there =
            RegOpenKeyExW(HKEY_CLASSES_ROOT, names[i] + 1, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS;
        if (there)
            RegCloseKey(key);
        if (there != wanted) {
            std::wprintf(L"HKEY_CLASSES_ROOT\\%ls: %ls\n", names[i] + 1, there ? L"left behind" : L"missing");
            ++wrong;
        }
    }
    return wrong ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        if (argc == 3 && std::wcscmp(argv[1], L"query") == 0)
            return query(argv[2]);
        if (argc >= 2 && std::wcscmp(argv[1], L"keys") == 0)
            return keys(argc - 2, argv + 2);
        std::fputs("usage: package_client query RESOURCE | keys [+|-]KEY...\n", stderr);
        return 2;
    } catch (const failure& failed) {
        std::fprintf(stderr, "package_client: %s failed: 0x%08lX\n", failed.what, static_cast<unsigned long>(failed.hr));
        return 1;
    }
}
