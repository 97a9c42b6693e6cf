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
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch);
    }
    // The caller doubles the quotes of a value that the script quotes.
    HRESULT run(std::wstring_view script, morvane::registrar_mode mode = morvane::registrar_mode::register_keys)
    {
        const morvane::registry::replacement replacements[] = {{L"Module", L"C:\\It''s here\\m.dll"}, {L"APPID", L""}};
        return morvane::run_registry_script(script, replacements, mode, root);
    }

    static constexpr const wchar_t* scratch = L"Software\\Morvane registrar tests";
    HKEY root = nullptr;
};

// Each malformed script is refused before the well-formed entry ahead of it is written.
TEST_F(Registrar, MalformedScriptsTouchNothing)
{
    for (const std::wstring script :
         {L"HKLM { Written = s 'x' }", L"HKCR { Written = s 'x' Broken = s unquoted }",
          L"HKCR { Written = s 'x' 'Two\\Levels' }", L"HKCR { Written = s '%UNKNOWN%' }", L"HKCR { Written = s 'x'"}) {
        EXPECT_EQ(run(script), DISP_E_EXCEPTION) << testing::PrintToString(script);
        EXPECT_EQ(run(script, unregister), DISP_E_EXCEPTION) << testing::PrintToString(script);
        EXPECT_EQ(names_in(root, L""), names{});
    }
}

// Keywords and tokens in any case; tokens replaced before parsing.
TEST_F(Registrar, RegisterWritesKeysAndStringValues)
{
    ASSERT_EQ(run(L"HKCR\n{\n\tOuter = s 'Outer''s value'\n\t{\n\t\t'Key with spaces' = s '%MODULE%'\n\t}\n}\n"
                  L"HKEY_CLASSES_ROOT { noremove Second { VAL Lower = S '%module%' val Percent = s '100%%' "
                  L"val Empty = s '[%APPID%]' } }"),
              S_OK);
    EXPECT_EQ(tree(root), L"Outer{@=Outer's value, Key with spaces{@=C:\\It's here\\m.dll}}, "
                          L"Second{Empty=[], Lower=C:\\It's here\\m.dll, Percent=100%}");
}

// ForceRemove keys are made anew and removed whole, unless protected (in any case) and with subkeys.
TEST_F(Registrar, ForceRemoveSparesProtectedKeysWithSubkeys)
{
    for (const std::wstring key : {L"Kept", L"Replaced", L"clsid"})
        set_value(root, key + L"\\Stray");
    for (const std::wstring key : {L"Kept", L"Replaced", L"clsid", L"TypeLib"})
        set_value(root, key, L"Other");
    const wchar_t* script = L"HKCR { Kept { Listed } ForceRemove Replaced { Listed } ForceRemove clsid { Listed } "
                            L"ForceRemove TypeLib = s 'new' }";
    ASSERT_EQ(run(script), S_OK);
    EXPECT_EQ(tree(root), L"Kept{Other=x, Listed{}, Stray{@=x}}, Replaced{Listed{}}, TypeLib{@=new}, "
                          L"clsid{Other=x, Listed{}, Stray{@=x}}"); // clsid protected with subkeys, TypeLib without
    set_value(root, L"Replaced\\Stray");
    ASSERT_EQ(run(script, unregister), S_OK);
    EXPECT_EQ(tree(root), L"Kept{Other=x, Stray{@=x}}, clsid{Other=x, Stray{@=x}}") << "others' subkeys keep a key";
}

TEST_F(Registrar, UnregisterRemovesWhatTheScriptWroteButNoRemoveKeys)
{
    const wchar_t* script = L"HKCR { Plain = s 'p' { Sub { val Named = s 'n' } } NoRemove Shared { Own } }";
    EXPECT_EQ(run(script, unregister), S_OK) << "with nothing there";
    ASSERT_EQ(run(script), S_OK);
    set_value(root, L"Plain\\Sub\\Foreign");
    ASSERT_EQ(run(script, unregister), S_OK);
    // Others' subkeys keep a key with its default value, not its named values; a NoRemove key stays.
    EXPECT_EQ(tree(root), L"Plain{@=p, Sub{Foreign{@=x}}}, Shared{}");
}

// Below a volatile key only volatile keys can be made: a refusal that the registry itself gives.
TEST_F(Registrar, RegistryFailureStopsWithItsCode)
{
    HKEY volatile_root = nullptr;
    RegCreateKeyExW(root, L"Volatile", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatile_root,
                    nullptr);
    EXPECT_EQ(morvane::run_registry_script(L"HKCR { First Second }", {}, morvane::registrar_mode::register_keys,
                                           volatile_root),
              HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    RegCloseKey(volatile_root);
    EXPECT_EQ(names_in(root, L"Volatile"), names{});
}

} // namespace
} // namespace server_tests
