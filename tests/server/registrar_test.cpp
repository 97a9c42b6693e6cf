// The registry-script registrar, run against a scratch key that stands for HKEY_CLASSES_ROOT.
#include "registration/registrar.hpp"
#include "server_client.hpp"

namespace server_tests {
namespace {

constexpr auto unregister = morvane::registrar_mode::unregister_keys;

class Registrar : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(root);
        delete_tree(HKEY_CURRENT_USER, scratch);
    }

    // The caller doubles the quotes of a value that the script quotes.
    HRESULT run(std::wstring_view script, morvane::registrar_mode mode = morvane::registrar_mode::register_keys)
    {
        const morvane::registry::replacement replacements[] = {
            {L"Module", L"C:\\It''s here\\m.dll"}, {L"Module_Raw", L"C:\\It's here\\m.dll"}, {L"APPID", L""}};
        return morvane::run_registry_script(script, replacements, mode, root);
    }

    static constexpr const wchar_t* scratch = L"Software\\Morvane registrar tests";
    HKEY root = nullptr;
};

TEST_F(Registrar, MalformedScriptsTouchNothing)
{
    std::vector<std::wstring> scripts = {L"HKCR { Written = s 'x'", L"HKCR Written", L"HKLM { Written = s 'x' }",
                                         L"} HKCR { Written = s 'x' }"};
    for (const wchar_t* broken : {L"Broken = s", L"Broken = s unquoted", L"Broken = d '1'", L"Broken = s 'unterminated",
                                  L"Broken { val = s 'x' }", L"Broken { val Name s 'x' }", L"''", L"'Two\\Levels'",
                                  L"ForceRemove", L"val Name = s 'x'", L"Broken = s '%UNKNOWN%'",
                                  L"Broken = s '%MODULE'", L"}"})
        scripts.push_back(L"HKCR { Written = s 'x' " + std::wstring(broken) + L" }");
    for (const std::wstring& script : scripts) {
        EXPECT_EQ(run(script), DISP_E_EXCEPTION) << testing::PrintToString(script);
        EXPECT_EQ(run(script, unregister), DISP_E_EXCEPTION) << testing::PrintToString(script);
        EXPECT_EQ(names_in(root, L""), names{});
    }
}

// Keywords in any case; tokens replaced before parsing.
TEST_F(Registrar, RegisterWritesKeysAndStringValues)
{
    ASSERT_EQ(run(L"HKCR\n{\n\tOuter = s 'Outer''s value'\n\t{\n\t\tInner\n\t\t{\n\t\t\tval Named = s 'named'\n"
                  L"\t\t\tval 'Quoted name' = s ''\n\t\t}\n\t\t'Key with spaces' = s '%MODULE%'\n\t}\n}\n"
                  L"HKEY_CLASSES_ROOT { noremove Second { VAL Lower = S '%module%' val Percent = s '100%%' "
                  L"val Empty = s '[%APPID%]' } }"),
              S_OK);
    EXPECT_EQ(names_in(root, L""), (names{L"Outer", L"Second"}));
    EXPECT_EQ(string_value(root, L"Outer"), L"Outer's value");
    EXPECT_EQ(names_in(root, L"Outer"), (names{L"Inner", L"Key with spaces"}));
    EXPECT_EQ(names_in(root, L"Outer\\Inner", true), (names{L"Named", L"Quoted name"}))
        << "a key without a default value in the script gets none";
    EXPECT_EQ(string_value(root, L"Outer\\Inner", L"Named"), L"named");
    EXPECT_EQ(string_value(root, L"Outer\\Inner", L"Quoted name"), L"");
    EXPECT_EQ(string_value(root, L"Outer\\Key with spaces"), L"C:\\It's here\\m.dll");
    EXPECT_EQ(string_value(root, L"Second", L"Lower"), L"C:\\It's here\\m.dll");
    EXPECT_EQ(string_value(root, L"Second", L"Percent"), L"100%");
    EXPECT_EQ(string_value(root, L"Second", L"Empty"), L"[]");
}

TEST_F(Registrar, RegisterKeepsWhatUnmarkedKeysHoldAndReplacesForceRemovedOnes)
{
    for (const std::wstring key : {L"Kept", L"Replaced"}) {
        set_value(root, key + L"\\Stray");
        set_value(root, key, L"Other");
    }
    ASSERT_EQ(run(L"HKCR { Kept = s 'new' { Listed } forceremove Replaced = s 'new' { Listed } }"), S_OK);
    EXPECT_EQ(names_in(root, L"Kept"), (names{L"Listed", L"Stray"}));
    EXPECT_EQ(names_in(root, L"Kept", true), (names{L"", L"Other"}));
    EXPECT_EQ(string_value(root, L"Kept"), L"new");
    EXPECT_EQ(names_in(root, L"Replaced"), names{L"Listed"});
    EXPECT_EQ(names_in(root, L"Replaced", true), names{L""});
}

TEST_F(Registrar, UnregisterRemovesWhatTheScriptWroteAndKeepsKeysWithOthersSubkeys)
{
    constexpr const wchar_t* script = L"HKCR { Plain = s 'p' { Sub = s 's' { val Named = s 'n' } } "
                                      L"NoRemove Shared { ForceRemove Own = s 'o' { Deep } } }";
    EXPECT_EQ(run(script, unregister), S_OK) << "with nothing there";
    ASSERT_EQ(run(script), S_OK);
    ASSERT_EQ(run(script, unregister), S_OK);
    EXPECT_EQ(names_in(root, L""), names{L"Shared"}) << "a NoRemove key stays, even when empty";
    EXPECT_EQ(names_in(root, L"Shared"), names{});

    ASSERT_EQ(run(script), S_OK);
    for (const wchar_t* key : {L"Plain\\Sub\\Foreign", L"Shared\\Own\\Foreign", L"Shared\\Neighbour"})
        set_value(root, key);
    ASSERT_EQ(run(script, unregister), S_OK);
    EXPECT_EQ(names_in(root, L""), (names{L"Plain", L"Shared"}));
    EXPECT_EQ(names_in(root, L"Plain\\Sub"), names{L"Foreign"});
    EXPECT_EQ(names_in(root, L"Plain\\Sub", true), names{L""}) << "its named values are still removed";
    EXPECT_EQ(names_in(root, L"Shared"), names{L"Neighbour"}) << "a ForceRemove key goes with its contents";
}

// A key of a protected name, in any case, is not taken away with its contents while it has
// subkeys; without subkeys, or with another name, ForceRemove takes it like any other key.
TEST_F(Registrar, ProtectedNamesAreNotForceRemovedWhileTheyHaveSubkeys)
{
    const std::vector<const wchar_t*> protected_names = {
        L"AppID", L"CLSID", L"Component Categories", L"FileType", L"Interface", L"Hardware", L"Mime",
        L"SAM",   L"SECURITY", L"SYSTEM", L"Software", L"TypeLib", L"typelib", L"clsid"};
    const std::vector<const wchar_t*> other_names = {L"CLSIDs", L"My CLSID", L"Interfaces"};
    for (const bool is_protected : {true, false})
        for (const std::wstring key : is_protected ? protected_names : other_names) {
            SCOPED_TRACE(testing::PrintToString(key));
            const std::wstring script = L"HKCR { ForceRemove '" + key + L"' = s 'v' { Listed } }";
            set_value(root, key + L"\\Foreign");
            ASSERT_EQ(run(script), S_OK);
            EXPECT_EQ(names_in(root, key), (is_protected ? names{L"Foreign", L"Listed"} : names{L"Listed"}));
            set_value(root, key + L"\\Foreign");
            ASSERT_EQ(run(script, unregister), S_OK);
            EXPECT_EQ(names_in(root, key), is_protected ? names{L"Foreign"} : names{});
            EXPECT_EQ(key_exists(root, key), is_protected);

            delete_tree(root, key);
            set_value(root, key, L"Foreign value");
            const std::wstring without_subkeys = L"HKCR { ForceRemove '" + key + L"' = s 'v' }";
            ASSERT_EQ(run(without_subkeys), S_OK);
            EXPECT_EQ(names_in(root, key, true), names{L""});
            ASSERT_EQ(run(without_subkeys, unregister), S_OK);
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
    EXPECT_EQ(morvane::run_registry_script(L"HKCR { First Second }", {}, morvane::registrar_mode::register_keys,
                                           volatile_root),
              HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    RegCloseKey(volatile_root);
    EXPECT_EQ(names_in(root, L"Volatile"), names{});
}

} // namespace
} // namespace server_tests
