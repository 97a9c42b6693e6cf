// Installing the component as documented (register_typelib, then regsvr32) and the entries it leaves.
#include <filesystem>
#include "server_client.hpp"

namespace server_tests {
namespace {

namespace fs = std::filesystem;

const HKEY classes = HKEY_CLASSES_ROOT;
const std::wstring module = shipped_file(L"Morvane.dll");
const std::wstring clsid = morvane::testing::clsid_fmtdio_text;
const std::wstring class_key = L"CLSID\\" + clsid;
const std::wstring typelib_key = L"TypeLib\\{709F7EC2-AB81-11D4-98E6-00108301CB39}";
const std::wstring library_path_key = typelib_key + L"\\5.5\\0\\win64";

using morvane::testing::quoted, morvane::testing::run;

int regsvr32(const wchar_t* options = L"/s ") { return run(L"regsvr32.exe", options + quoted(module)); }
int register_typelib(const std::wstring& arguments) { return run(shipped_file(L"register_typelib.exe"), arguments); }

// Every test starts and ends with none of the component's entries present.
class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::wstring& key : names{L"VISA.Tellurix", L"VISA.Tellurix.1", class_key, typelib_key})
            RegDeleteTreeW(classes, key.c_str());
    }
    void TearDown() override { SetUp(); }
};

// Installed as documented, the coclass's default interface resolves into the registered standard library.
// Registering again replaces the class key; unregistering spares a ProgID holding someone else's subkey.
TEST_F(Registration, RegisterAgainAndUnregister)
{
    const std::wstring name = L"@=VISA COM I/O Tellurix Class, CLSID{@=" + clsid + L"}";
    const std::wstring class_tree = L"@=VISA COM I/O Tellurix Class, InprocServer32{@=" + module +
                                    L", ThreadingModel=Both}, ProgID{@=VISA.Tellurix.1}, Programmable{}, "
                                    L"VersionIndependentProgID{@=VISA.Tellurix}";
    ASSERT_EQ(register_typelib(quoted(shipped_file(L"visacom.tlb"))), 0);
    ASSERT_EQ(regsvr32(), 0);
    EXPECT_EQ(tree(classes, L"VISA.Tellurix.1"), name);
    EXPECT_EQ(tree(classes, L"VISA.Tellurix"), name + L", CurVer{@=VISA.Tellurix.1}");
    EXPECT_EQ(tree(classes, class_key), class_tree);
    EXPECT_EQ(string_value(classes, typelib_key + L"\\5.5"), L"VISA COM 488.2 Formatted I/O 5.5");
    EXPECT_EQ(string_value(classes, library_path_key), module);
    com_ptr<IProvideClassInfo2> provider;
    com_ptr<ITypeInfo> coclass, interface_info;
    com_ptr<ITypeLib> library;
    HREFTYPE reference = 0;
    UINT index = 0;
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid_fmtdio, nullptr, CLSCTX_INPROC_SERVER, IID_IProvideClassInfo2, &provider), S_OK);
    ASSERT_EQ(provider->GetClassInfo(&coclass), S_OK);
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, &interface_info), S_OK);
    ASSERT_EQ(interface_info->GetContainingTypeLib(&library, &index), S_OK);
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, (GUID{0xdb8cbf00, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}}));
    library->ReleaseTLibAttr(attributes);
    EXPECT_EQ(register_typelib(L""), 2) << "the tool's usage error";

    set_value(classes, class_key + L"\\Stray");
    set_value(classes, class_key, L"Stray value");
    set_value(classes, L"VISA.Tellurix\\Kept");
    ASSERT_EQ(regsvr32(), 0);
    EXPECT_EQ(tree(classes, class_key), class_tree);
    EXPECT_EQ(tree(classes, L"VISA.Tellurix"), name + L", CurVer{@=VISA.Tellurix.1}, Kept{@=x}");

    ASSERT_EQ(regsvr32(L"/u /s "), 0);
    for (const std::wstring& key : names{class_key, L"VISA.Tellurix.1", typelib_key})
        EXPECT_EQ(names_in(classes, key), std::nullopt) << testing::PrintToString(key);
    EXPECT_NE(names_in(classes, L"CLSID"), std::nullopt);
    EXPECT_EQ(names_in(classes, L"VISA.Tellurix"), names{L"Kept"}) << "someone else's subkey keeps it";
    EXPECT_EQ(register_typelib(L"/u " + quoted(shipped_file(L"visacom.tlb"))), 0);
    for (const wchar_t* key :
         {L"TypeLib\\{DB8CBF00-D6D3-11D4-AA51-00A024EE30BD}", L"Interface\\{DB8CBF1A-D6D3-11D4-AA51-00A024EE30BD}"})
        EXPECT_EQ(names_in(classes, key), std::nullopt) << "the standard library unregistered";
}

// A copy registers its own path, not one that fills the buffer; a broken library gives way to the .tlb.
TEST_F(Registration, CopiesOfTheModule)
{
    // clang-format off
    struct row { const wchar_t* directory; bool deep, library_beside; HRESULT expected; };
    for (const row& copy : {row{L"Tellurix's copy", false, false, S_OK},
                            row{L"Morvane long path", true, false, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)},
                            row{L"Morvane library beside", false, true, S_OK}}) { // clang-format on
        SCOPED_TRACE(testing::PrintToString(std::wstring(copy.directory)));
        const fs::path top = fs::temp_directory_path() / copy.directory;
        fs::path directory = top;
        while (copy.deep && directory.native().size() < MAX_PATH)
            directory /= std::wstring(40, L'd');
        fs::create_directories(directory);
        const std::wstring path = directory / L"Morvane.dll", type_library = directory / L"Morvane.tlb";
        ASSERT_TRUE(CopyFileW(module.c_str(), path.c_str(), FALSE));
        if (copy.library_beside) {
            const HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
            char not_a_library[] = "not a type library";
            ASSERT_TRUE(update && UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1),
                                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), not_a_library,
                                                  sizeof not_a_library));
            ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
            // The build writes the library that the module carries into tools/, beside bin/.
            ASSERT_TRUE(CopyFileW(shipped_file(L"..\\tools\\tellurix.tlb").c_str(), type_library.c_str(), FALSE));
        }
        {
            const server_module server(path);
            ASSERT_TRUE(server.module);
            EXPECT_EQ(server.call("DllRegisterServer"), copy.expected);
            EXPECT_EQ(string_value(classes, class_key + L"\\InprocServer32"), path);
            EXPECT_EQ(string_value(classes, library_path_key),
                      FAILED(copy.expected) ? std::nullopt : std::optional(copy.library_beside ? type_library : path));
            EXPECT_EQ(server.call("DllUnregisterServer"), copy.expected);
            EXPECT_EQ(names_in(classes, class_key), std::nullopt);
            EXPECT_EQ(names_in(classes, typelib_key), std::nullopt);
        }
        std::error_code ignored;
        fs::remove_all(top, ignored);
    }
}

} // namespace
} // namespace server_tests
