// The registry-script registrar, run against a scratch key that stands for HKEY_CLASSES_ROOT.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "registrar.hpp"
#include "registry_view.hpp"

namespace server_tests {
namespace {

using morvane::registrar_mode;
using morvane::registry::replacement;
using names = std::vector<std::wstring>;

constexpr const wchar_t* scratch_path = L"Software\\Morvane registrar tests";

class Registrar : public ::testing::Test {
protected:
    void SetUp() override
    {
        delete_tree(HKEY_CURRENT_USER, scratch_path);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(root);
        delete_tree(HKEY_CURRENT_USER, scratch_path);
    }

    HRESULT run(std::wstring_view script, registrar_mode mode, std::vector<replacement> replacements = {})
    {
        return morvane::run_registry_script(script, replacements, mode, root);
    }
    HRESULT register_script(std::wstring_view script) { return run(script, registrar_mode::register_keys); }
    HRESULT unregister_script(std::wstring_view script) { return run(script, registrar_mode::unregister_keys); }

    HKEY root = nullptr;
};

TEST_F(Registrar, MalformedScriptsTouchNothing)
{
    for (const wchar_t* script : {
             L"HKCR { Written = s 'x' Broken = s }",
             L"HKCR { Written = s 'x' Broken = s unquoted }",
             L"HKCR { Written = s 'x' Broken = d '1' }",
             L"HKCR { Written = s 'x' Broken = s 'unterminated }",
             L"HKCR { Written = s 'x' Broken { val = s 'x' } }",
             L"HKCR { Written = s 'x' Broken { val Name s 'x' } }",
             L"HKCR { Written = s 'x' '' }",
             L"HKCR { Written = s 'x' 'Two\\Levels' }",
             L"HKCR { Written = s 'x' ForceRemove }",
             L"HKCR { Written = s 'x' val Name = s 'x' }",
             L"HKCR { Written = s 'x' Broken = s '%UNKNOWN%' }",
             L"HKCR { Written = s 'x' Broken = s '%MODULE' }",
             L"HKCR { Written = s 'x' }  }",
             L"HKCR { Written = s 'x'",
             L"HKCR Written",
             L"HKLM { Written = s 'x' }",
             L"} HKCR { Written = s 'x' }",
         }) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(script)));
        for (registrar_mode mode : {registrar_mode::register_keys, registrar_mode::unregister_keys})
            EXPECT_EQ(run(script, mode, {{L"MODULE", L"C:\\m.dll"}}), DISP_E_EXCEPTION);
        EXPECT_EQ(subkey_names(root, L""), names{});
    }
}

TEST_F(Registrar, RegisterWritesKeysAndStringValues)
{
    ASSERT_EQ(register_script(L"HKCR\n{\n\tOuter = s 'Outer''s value'\n\t{\n\t\tInner\n\t\t{\n"
                              L"\t\t\tval Named = s 'named'\n\t\t\tval 'Quoted name' = s ''\n\t\t}\n"
                              L"\t\t'Key with spaces' = s 'x'\n\t}\n}\nHKEY_CLASSES_ROOT { Second }\n"),
              S_OK);
    EXPECT_EQ(subkey_names(root, L""), (names{L"Outer", L"Second"}));
    EXPECT_EQ(string_value(root, L"Outer"), L"Outer's value");
    EXPECT_EQ(subkey_names(root, L"Outer"), (names{L"Inner", L"Key with spaces"}));
    EXPECT_EQ(value_names(root, L"Outer\\Inner"), (names{L"Named", L"Quoted name"}))
        << "a key without a default value in the script gets none";
    EXPECT_EQ(string_value(root, L"Outer\\Inner", L"Named"), L"named");
    EXPECT_EQ(string_value(root, L"Outer\\Inner", L"Quoted name"), L"");
    EXPECT_EQ(string_value(root, L"Outer\\Key with spaces"), L"x");
}

TEST_F(Registrar, KeywordsIgnoreCase)
{
    ASSERT_EQ(register_script(L"hkcr { noremove A { VAL v = S 'x' } forceremove B }"), S_OK);
    EXPECT_EQ(string_value(root, L"A", L"v"), L"x");
    EXPECT_TRUE(key_exists(root, L"B"));
}

TEST_F(Registrar, TokensAreReplacedBeforeParsing)
{
    // The caller doubles the quotes of a value that the script quotes.
    const std::vector<replacement> replacements = {
        {L"Module", L"C:\\It''s here\\m.dll"}, {L"Module_Raw", L"C:\\It's here\\m.dll"}, {L"APPID", L""}};
    ASSERT_EQ(run(L"HKCR { K = s '%MODULE%' { val Lower = s '%module%' val Percent = s '100%%' "
                  L"val Empty = s '[%APPID%]' } }",
                  registrar_mode::register_keys, replacements),
              S_OK);
    EXPECT_EQ(string_value(root, L"K"), L"C:\\It's here\\m.dll");
    EXPECT_EQ(string_value(root, L"K", L"Lower"), L"C:\\It's here\\m.dll");
    EXPECT_EQ(string_value(root, L"K", L"Percent"), L"100%");
    EXPECT_EQ(string_value(root, L"K", L"Empty"), L"[]");
}

TEST_F(Registrar, RegisterKeepsWhatUnmarkedKeysHoldAndReplacesForceRemovedOnes)
{
    create_key(root, L"Kept\\Stray", L"stray");
    set_string(root, L"Kept", L"Other", L"other");
    create_key(root, L"Replaced\\Stray", L"stray");
    set_string(root, L"Replaced", L"Other", L"other");
    ASSERT_EQ(register_script(L"HKCR { Kept = s 'new' { Listed } ForceRemove Replaced = s 'new' { Listed } }"),
              S_OK);
    EXPECT_EQ(subkey_names(root, L"Kept"), (names{L"Listed", L"Stray"}));
    EXPECT_EQ(string_value(root, L"Kept", L"Other"), L"other");
    EXPECT_EQ(string_value(root, L"Kept"), L"new");
    EXPECT_EQ(subkey_names(root, L"Replaced"), names{L"Listed"});
    EXPECT_EQ(value_names(root, L"Replaced"), names{L""});
}

constexpr const wchar_t* class_like_script =
    L"HKCR { Plain = s 'p' { Sub = s 's' { val Named = s 'n' } } NoRemove Shared { ForceRemove Own = s 'o' "
    L"{ Deep } } }";

TEST_F(Registrar, UnregisterRemovesWhatTheScriptWrote)
{
    ASSERT_EQ(register_script(class_like_script), S_OK);
    ASSERT_EQ(unregister_script(class_like_script), S_OK);
    EXPECT_EQ(subkey_names(root, L""), names{L"Shared"}) << "a NoRemove key stays, even when empty";
    EXPECT_EQ(subkey_names(root, L"Shared"), names{});
}

TEST_F(Registrar, UnregisterKeepsKeysWithForeignSubkeys)
{
    ASSERT_EQ(register_script(class_like_script), S_OK);
    create_key(root, L"Plain\\Sub\\Foreign");
    create_key(root, L"Shared\\Own\\Foreign");
    create_key(root, L"Shared\\Neighbour");
    ASSERT_EQ(unregister_script(class_like_script), S_OK);
    EXPECT_EQ(subkey_names(root, L""), (names{L"Plain", L"Shared"}));
    EXPECT_EQ(subkey_names(root, L"Plain\\Sub"), names{L"Foreign"});
    EXPECT_EQ(value_names(root, L"Plain\\Sub"), names{L""}) << "its named values are still removed";
    EXPECT_EQ(subkey_names(root, L"Shared"), names{L"Neighbour"}) << "a ForceRemove key goes with its contents";
}

TEST_F(Registrar, UnregisteringWhatIsNotThereSucceeds)
{
    EXPECT_EQ(unregister_script(class_like_script), S_OK);
    EXPECT_EQ(subkey_names(root, L""), names{});
}

TEST_F(Registrar, ProtectedKeysAreNotForceRemovedWhileTheyHaveSubkeys)
{
    for (const wchar_t* name : {L"AppID", L"CLSID", L"Component Categories", L"FileType", L"Interface",
                                L"Hardware", L"Mime", L"SAM", L"SECURITY", L"SYSTEM", L"Software", L"TypeLib",
                                L"typelib", L"clsid"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        const std::wstring key(name);
        const std::wstring script = L"HKCR { ForceRemove '" + key + L"' = s 'v' { Listed } }";
        create_key(root, key + L"\\Foreign");
        ASSERT_EQ(register_script(script), S_OK);
        EXPECT_EQ(subkey_names(root, key), (names{L"Foreign", L"Listed"}));
        ASSERT_EQ(unregister_script(script), S_OK);
        EXPECT_EQ(subkey_names(root, key), names{L"Foreign"});

        // Without subkeys, ForceRemove takes it like any other key.
        delete_tree(root, key);
        create_key(root, key);
        set_string(root, key, L"Foreign value", L"x");
        ASSERT_EQ(register_script(L"HKCR { ForceRemove '" + key + L"' = s 'v' }"), S_OK);
        EXPECT_EQ(value_names(root, key), names{L""});
        ASSERT_EQ(unregister_script(L"HKCR { ForceRemove '" + key + L"' = s 'v' }"), S_OK);
        EXPECT_FALSE(key_exists(root, key));
    }
}

TEST_F(Registrar, OtherNamesAreForceRemovedWithTheirSubkeys)
{
    for (const wchar_t* name : {L"CLSIDs", L"My CLSID", L"Interfaces"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        const std::wstring key(name);
        const std::wstring script = L"HKCR { ForceRemove '" + key + L"' { Listed } }";
        create_key(root, key + L"\\Foreign");
        ASSERT_EQ(register_script(script), S_OK);
        EXPECT_EQ(subkey_names(root, key), names{L"Listed"});
        create_key(root, key + L"\\Foreign");
        ASSERT_EQ(unregister_script(script), S_OK);
        EXPECT_FALSE(key_exists(root, key));
    }
}

// Below a volatile key only volatile keys can be made: a refusal that the registry itself gives.
TEST_F(Registrar, RegistryFailureStopsWithItsCode)
{
    HKEY volatile_root = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, L"Volatile", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &volatile_root, nullptr),
              ERROR_SUCCESS);
    const HRESULT hr =
        morvane::run_registry_script(L"HKCR { First Second }", {}, registrar_mode::register_keys, volatile_root);
    RegCloseKey(volatile_root);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_EQ(subkey_names(root, L"Volatile"), names{});
}

} // namespace
} // namespace server_tests
