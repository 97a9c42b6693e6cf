// Installing the sessions server as the package does, and the keys that regsvr32 writes (the
// package's tests check that uninstalling removes them).
#include "sessions_client.hpp"
#include "support/shipped_files.hpp"

namespace morvane::testing {
namespace {

const std::wstring clsid_text = L"{31b02d3b-1942-4e5a-a9bd-16d45f2023e0}";

int regsvr32(const wchar_t* dll) { return run(L"regsvr32.exe", L"/s " + quoted(shipped_file(dll))); }

// Everything is installed once for the whole program, in the order the package installs it.
class installed : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(run(shipped_file(L"register_typelib.exe"), quoted(shipped_file(L"visacom.tlb"))), 0);
        ASSERT_EQ(regsvr32(L"Morvane.dll"), 0);
        ASSERT_EQ(regsvr32(L"MorvaneSessions.dll"), 0);
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
        EXPECT_EQ(string_value(HKEY_CLASSES_ROOT, entry.key, entry.value_name), entry.data)
            << std::string(entry.key.begin(), entry.key.end());
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(L"Morvane.ResourceManager", &found), S_OK);
    EXPECT_TRUE(IsEqualCLSID(found, clsid_resource_manager));
}

} // namespace
} // namespace morvane::testing
