// Self-registration, driven as an installer drives it: regsvr32, or the exports of a loaded
// copy of the DLL. Every test starts and ends with none of the component's entries present.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <filesystem>
#include <fstream>
#include "registry_view.hpp"
#include "server_client.hpp"
#include "server_ids.hpp"

namespace server_tests {
namespace {

using names = std::vector<std::wstring>;
const HKEY classes = HKEY_CLASSES_ROOT;

// Deletes a directory with everything in it. The platform's own calls, because the C
// runtime's file functions stop at MAX_PATH characters, and some of the tests' paths do not.
struct find_close {
    void operator()(HANDLE search) const noexcept { FindClose(search); }
};

void remove_tree(const std::wstring& directory)
{
    WIN32_FIND_DATAW found;
    const HANDLE first = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (first != INVALID_HANDLE_VALUE) {
        const std::unique_ptr<void, find_close> search(first);
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = directory + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search.get(), &found));
    }
    RemoveDirectoryW(directory.c_str());
}

// A directory of the test's own under the temporary directory, removed with its contents.
class scratch_directory {
public:
    explicit scratch_directory(const std::wstring& name)
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = std::filesystem::path(temp) / name;
        remove_tree(path_.wstring());
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~scratch_directory() { remove_tree(path_.wstring()); }
    scratch_directory(const scratch_directory&) = delete;
    scratch_directory& operator=(const scratch_directory&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

// Morvane.dll copied into a directory; the copy registers its own path.
std::wstring copy_module(const std::filesystem::path& directory)
{
    CreateDirectoryW(directory.c_str(), nullptr);
    const std::filesystem::path copy = directory / L"Morvane.dll";
    EXPECT_TRUE(CopyFileW(shipped_file(L"Morvane.dll").c_str(), copy.c_str(), FALSE));
    return copy.wstring();
}

void remove_component_entries()
{
    for (const wchar_t* key : {L"VISA.Tellurix", L"VISA.Tellurix.1", class_key, typelib_key})
        delete_tree(classes, key);
}

std::wstring win64_path_key()
{
    return std::wstring(typelib_key) + L"\\5.5\\0\\win64";
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { remove_component_entries(); }
    void TearDown() override { remove_component_entries(); }

    const std::wstring module = shipped_file(L"Morvane.dll");
};

TEST_F(Registration, RegsvrWritesTheScriptsEntries)
{
    ASSERT_EQ(regsvr32(module), 0u);
    struct row {
        std::wstring key;
        const wchar_t* value_name;
        std::wstring data;
    };
    const std::wstring clsid = class_key;
    for (const row& entry : {
             row{L"VISA.Tellurix.1", L"", class_name},
             row{L"VISA.Tellurix.1\\CLSID", L"", clsid_text},
             row{L"VISA.Tellurix", L"", class_name},
             row{L"VISA.Tellurix\\CLSID", L"", clsid_text},
             row{L"VISA.Tellurix\\CurVer", L"", L"VISA.Tellurix.1"},
             row{clsid, L"", class_name},
             row{clsid + L"\\ProgID", L"", L"VISA.Tellurix.1"},
             row{clsid + L"\\VersionIndependentProgID", L"", L"VISA.Tellurix"},
             row{clsid + L"\\InprocServer32", L"", module},
             row{clsid + L"\\InprocServer32", L"ThreadingModel", L"Both"},
         }) {
        SCOPED_TRACE(testing::PrintToString(entry.key + L" " + entry.value_name));
        EXPECT_EQ(string_value(classes, entry.key, entry.value_name), entry.data);
    }
    EXPECT_EQ(subkey_names(classes, clsid),
              (names{L"InprocServer32", L"ProgID", L"Programmable", L"VersionIndependentProgID"}));
    EXPECT_EQ(value_names(classes, clsid + L"\\InprocServer32"), (names{L"", L"ThreadingModel"}));
    EXPECT_EQ(value_names(classes, clsid + L"\\Programmable"), names{});
    EXPECT_EQ(subkey_names(classes, L"VISA.Tellurix"), (names{L"CLSID", L"CurVer"}));
    EXPECT_EQ(subkey_names(classes, L"VISA.Tellurix.1"), names{L"CLSID"});
}

TEST_F(Registration, TypeLibraryIsRegisteredUnderItsVersionAndRemovedAgain)
{
    ASSERT_EQ(regsvr32(module), 0u);
    EXPECT_EQ(subkey_names(classes, typelib_key), names{L"5.5"});
    EXPECT_EQ(string_value(classes, std::wstring(typelib_key) + L"\\5.5"), library_help);
    EXPECT_EQ(string_value(classes, win64_path_key()), module) << "registered from the module itself";

    ASSERT_EQ(regsvr32(module, true), 0u);
    EXPECT_FALSE(key_exists(classes, typelib_key));
}

TEST_F(Registration, RegisteringAgainReplacesTheClassKeyOnly)
{
    ASSERT_EQ(regsvr32(module), 0u);
    create_key(classes, std::wstring(class_key) + L"\\Stray", L"left by someone");
    set_string(classes, class_key, L"Stray value", L"left by someone");
    create_key(classes, L"VISA.Tellurix\\Kept", L"left by someone");

    ASSERT_EQ(regsvr32(module), 0u);
    EXPECT_EQ(subkey_names(classes, class_key),
              (names{L"InprocServer32", L"ProgID", L"Programmable", L"VersionIndependentProgID"}));
    EXPECT_EQ(value_names(classes, class_key), names{L""});
    EXPECT_EQ(subkey_names(classes, L"VISA.Tellurix"), (names{L"CLSID", L"CurVer", L"Kept"}));
    EXPECT_EQ(string_value(classes, std::wstring(class_key) + L"\\InprocServer32"), module);
}

class Unregistration : public Registration, public ::testing::WithParamInterface<bool> {};

TEST_P(Unregistration, RemovesTheEntriesAndLeavesOthersSubkeys)
{
    const bool extra_subkey = GetParam();
    ASSERT_EQ(regsvr32(module), 0u);
    if (extra_subkey)
        create_key(classes, L"VISA.Tellurix\\Extra", L"someone else's");

    ASSERT_EQ(regsvr32(module, true), 0u);
    EXPECT_FALSE(key_exists(classes, class_key));
    EXPECT_TRUE(key_exists(classes, L"CLSID"));
    EXPECT_FALSE(key_exists(classes, L"VISA.Tellurix.1"));
    EXPECT_FALSE(key_exists(classes, typelib_key));
    if (extra_subkey) {
        EXPECT_EQ(subkey_names(classes, L"VISA.Tellurix"), names{L"Extra"});
    } else {
        EXPECT_FALSE(key_exists(classes, L"VISA.Tellurix"));
    }
}

INSTANTIATE_TEST_SUITE_P(ExtraSubkey, Unregistration, ::testing::Bool());

// The registry receives the path as it is, though the script quotes it.
TEST_F(Registration, ModulePathWithASingleQuote)
{
    const scratch_directory directory(L"Morvane registration");
    const std::wstring copy = copy_module(directory.path() / L"Tellurix's copy");
    ASSERT_EQ(regsvr32(copy), 0u);
    EXPECT_EQ(string_value(classes, std::wstring(class_key) + L"\\InprocServer32"), copy);
    EXPECT_EQ(string_value(classes, win64_path_key()), copy);
    ASSERT_EQ(regsvr32(copy, true), 0u);
    EXPECT_FALSE(key_exists(classes, class_key));
    EXPECT_FALSE(key_exists(classes, typelib_key));
}

// A module file name that fills the whole name buffer might have been cut short: the type
// library is not loaded from it, though the script's entries, which take the full name,
// are written.
TEST_F(Registration, ModulePathOfMaximumLengthIsTooLongForTheTypeLibrary)
{
    const scratch_directory directory(L"Morvane long path");
    std::filesystem::path deep = directory.path();
    while (deep.wstring().size() < MAX_PATH) {
        deep /= std::wstring(40, L'd');
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    const std::wstring copy = copy_module(deep);
    const server_module server(copy);
    ASSERT_TRUE(server.loaded());

    EXPECT_EQ(server.register_server(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(string_value(classes, std::wstring(class_key) + L"\\InprocServer32"), copy);
    EXPECT_FALSE(key_exists(classes, typelib_key));
    EXPECT_EQ(server.unregister_server(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(key_exists(classes, class_key));
}

// The type library that Morvane.dll carries, as a file.
void extract_type_library(const std::filesystem::path& file)
{
    const unique_module module(LoadLibraryExW(shipped_file(L"Morvane.dll").c_str(), nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);
    const HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(1), L"TYPELIB");
    ASSERT_NE(resource, nullptr);
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module.get(), resource)));
    std::ofstream(file, std::ios::binary).write(bytes, SizeofResource(module.get(), resource));
}

// Spoils the module's "TYPELIB" 1 resource (every language of it), so the library can no
// longer be loaded from the module.
void spoil_type_library(const std::wstring& module_file)
{
    std::vector<WORD> languages;
    {
        const unique_module module(LoadLibraryExW(module_file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module);
        EnumResourceLanguagesW(
            module.get(), L"TYPELIB", MAKEINTRESOURCEW(1),
            [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) -> BOOL {
                reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&languages));
    }
    ASSERT_FALSE(languages.empty());
    char not_a_library[] = "not a type library";
    HANDLE update = BeginUpdateResourceW(module_file.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    for (WORD language : languages)
        EXPECT_TRUE(UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1), language, not_a_library,
                                    sizeof not_a_library));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));

    const unique_module module(LoadLibraryExW(module_file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    const HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(1), L"TYPELIB");
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(SizeofResource(module.get(), resource), sizeof not_a_library);
}

// A module whose resource cannot be loaded falls back on the ".tlb" of its own name beside it.
TEST_F(Registration, TypeLibraryFileBesideTheModule)
{
    const scratch_directory directory(L"Morvane tlb beside");
    const std::wstring copy = copy_module(directory.path());
    spoil_type_library(copy);
    const std::filesystem::path tlb = directory.path() / L"Morvane.tlb";
    {
        const server_module server(copy);
        ASSERT_TRUE(server.loaded());
        ITypeLib* missing = nullptr;
        const HRESULT load_failure = LoadTypeLibEx(tlb.c_str(), REGKIND_NONE, &missing);
        ASSERT_TRUE(FAILED(load_failure));
        EXPECT_EQ(server.register_server(), load_failure) << "without the resource or the file";
        EXPECT_EQ(string_value(classes, std::wstring(class_key) + L"\\InprocServer32"), copy)
            << "the script's entries stay written";
        EXPECT_FALSE(key_exists(classes, typelib_key));
    }
    extract_type_library(tlb);
    ASSERT_EQ(regsvr32(copy), 0u);
    EXPECT_EQ(string_value(classes, win64_path_key()), tlb.wstring());
    ASSERT_EQ(regsvr32(copy, true), 0u);
    EXPECT_FALSE(key_exists(classes, typelib_key));
}

// The documented installation of the stand-in standard library, and its removal.
TEST(Installation, ToolRegistersTheStandardLibrary)
{
    const std::wstring tool = L"\"" + shipped_file(L"register_typelib.exe") + L"\" ";
    const std::wstring library = L"\"" + shipped_file(L"visacom.tlb") + L"\"";
    const std::wstring path_key = std::wstring(standard_typelib_key) + L"\\5.5\\0\\win64";
    delete_tree(classes, standard_typelib_key);

    ASSERT_EQ(run_program(tool + library), 0u);
    EXPECT_EQ(string_value(classes, path_key), shipped_file(L"visacom.tlb"));
    EXPECT_TRUE(key_exists(classes, L"Interface\\{DB8CBF1A-D6D3-11D4-AA51-00A024EE30BD}"))
        << "IFormattedIO488 is registered by the standard library";

    ASSERT_EQ(run_program(tool + L"/u " + library), 0u);
    EXPECT_FALSE(key_exists(classes, standard_typelib_key));
    EXPECT_FALSE(key_exists(classes, L"Interface\\{DB8CBF1A-D6D3-11D4-AA51-00A024EE30BD}"));
    EXPECT_EQ(run_program(tool), 2u) << "usage error";
}

} // namespace
} // namespace server_tests
