// Installing the sessions server as the package does, and the keys that regsvr32 writes (the
// package's tests check that uninstalling removes them).
#include <cstdlib>
#include <optional>
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

const std::wstring clsid_text = L"{31b02d3b-1942-4e5a-a9bd-16d45f2023e0}";

// A file of the build's bin folder (MORVANE_BIN_FROM_TESTS: relative to this program's folder).
std::wstring shipped_file(const std::wstring& name)
{
    wchar_t path[MAX_PATH];
    std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    self = self.substr(0, self.find_last_of(L'\\')) + L"\\" MORVANE_BIN_FROM_TESTS L"\\" + name;
    return std::wstring(path, GetFullPathNameW(self.c_str(), MAX_PATH, path, nullptr));
}

int run(const std::wstring& program, const std::wstring& arguments)
{
    return _wsystem((L"\"\"" + program + L"\" " + arguments + L"\"").c_str());
}
int regsvr32(const wchar_t* options, const wchar_t* dll)
{
    return run(L"regsvr32.exe", std::wstring(options) + L" \"" + shipped_file(dll) + L"\"");
}

std::optional<std::wstring> value(const std::wstring& key, const wchar_t* name = L"")
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

// Everything is installed once for the whole program, in the order the package installs it.
class installed : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(run(shipped_file(L"register_typelib.exe"), L"\"" + shipped_file(L"visacom.tlb") + L"\""), 0);
        ASSERT_EQ(regsvr32(L"/s", L"Morvane.dll"), 0);
        ASSERT_EQ(regsvr32(L"/s", L"MorvaneSessions.dll"), 0);
    }
};
const auto* const installation = ::testing::AddGlobalTestEnvironment(new installed);

TEST(Registration, WritesTheClassAndLibraryKeys)
{
    const std::wstring class_key = L"CLSID\\" + clsid_text;
    const std::wstring interfaces[] = {L"Interface\\{8B83C8AC-266B-42F0-9372-CED9E428B6CE}",
                                       L"Interface\\{DEACD162-3471-4951-B18B-92178665F7AA}"};
    const std::wstring name = L"Morvane Resource Manager";
    // clang-format off
    const struct { std::wstring key; const wchar_t* value_name; std::wstring data; } entries[] = {
        {L"Morvane.ResourceManager", L"", name},
        {L"Morvane.ResourceManager\\CLSID", L"", clsid_text},
        {L"Morvane.ResourceManager\\CurVer", L"", L"Morvane.ResourceManager.1"},
        {L"Morvane.ResourceManager.1\\CLSID", L"", clsid_text},
        {class_key, L"", name},
        {class_key + L"\\ProgID", L"", L"Morvane.ResourceManager.1"},
        {class_key + L"\\VersionIndependentProgID", L"", L"Morvane.ResourceManager"},
        {class_key + L"\\InprocServer32", L"", shipped_file(L"MorvaneSessions.dll")},
        {class_key + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {L"TypeLib\\{1F3DD6C7-47C1-4125-B802-BBAD418BC165}\\1.0\\0\\win64", L"", shipped_file(L"MorvaneSessions.dll")},
        {interfaces[0] + L"\\TypeLib", L"", L"{1F3DD6C7-47C1-4125-B802-BBAD418BC165}"},
        {interfaces[1] + L"\\TypeLib", L"", L"{1F3DD6C7-47C1-4125-B802-BBAD418BC165}"},
    };
    // clang-format on
    for (const auto& entry : entries)
        EXPECT_EQ(value(entry.key, entry.value_name), entry.data) << std::string(entry.key.begin(), entry.key.end());
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(L"Morvane.ResourceManager", &found), S_OK);
    EXPECT_TRUE(IsEqualCLSID(found, clsid_resource_manager));
}

} // namespace
} // namespace morvane::testing
