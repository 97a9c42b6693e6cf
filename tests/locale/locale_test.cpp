// Numbers on the wire, both ways, for a user who kept US English but changed its decimal
// separator to ",", for a German user and for a Japanese one: nothing on the wire may follow
// them. Text for the Japanese user, whose ANSI code page takes one or two bytes a character.
// Each runs in a prefix of its own, named by MORVANE_USER_LOCALE.
#include <gtest/gtest.h>
#include <cstdlib>
#include <string_view>
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

std::wstring platform_text(double x, LCID locale, USHORT flags)
{
    unique_variant number, text;
    V_VT(number.get()) = VT_R8;
    V_R8(number.get()) = x;
    if (FAILED(VariantChangeTypeEx(text.get(), number.get(), locale, flags, VT_BSTR)))
        return L"failed";
    return std::wstring(bstr_view(V_BSTR(text.get())));
}

unique_variant real(double x)
{
    unique_variant v;
    V_VT(v.get()) = VT_R8;
    V_R8(v.get()) = x;
    return v;
}

class UserLocale : public bound_fmtdio {
protected:
    void SetUp() override
    {
        // The premise, first: the user's locale, with its own separator in force where flags allow it.
        const char* user = std::getenv("MORVANE_USER_LOCALE");
        ASSERT_TRUE(user) << "run by run_in_own_prefix.sh";
        japanese = std::string_view(user) == "japanese";
        if (japanese) {
            ASSERT_EQ(GetUserDefaultLCID(), 0x0411u);
            ASSERT_EQ(GetACP(), 932u);
        } else {
            const bool german = std::string_view(user) == "german";
            ASSERT_EQ(GetUserDefaultLCID(), german ? 0x0407u : 0x0409u) << user;
            ASSERT_EQ(platform_text(2.5, LOCALE_USER_DEFAULT, 0), L"2,5") << user;
        }
        bound_fmtdio::SetUp();
    }
    std::string sent() const
    {
        std::string all;
        for (const std::string& write : session.writes())
            all += write;
        return all;
    }
    bool japanese = false;
};

TEST_F(UserLocale, NumbersOnTheWireDoNotFollowIt)
{
    SAFEARRAYBOUND bound{2, 0};
    unique_variant list;
    V_VT(list.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(list.get()) = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG i = 0; i < 2; ++i)
        ASSERT_EQ(SafeArrayPutElement(V_ARRAY(list.get()), &i, real(i ? -0.125 : 2.5).get()), S_OK);
    unique_variant text;
    V_VT(text.get()) = VT_BSTR;
    V_BSTR(text.get()) = SysAllocString(L"2.50");
    for (const long code : {12L, 8L})
        EXPECT_EQ(io->WriteList(list.get(), NumberType(code), bstr(L";").get(), VARIANT_TRUE), S_OK);
    EXPECT_EQ(io->WriteNumber(*text, NumberType_R8, VARIANT_TRUE), S_OK);
    EXPECT_EQ(io->WriteNumber(*text, NumberType(12), VARIANT_TRUE), S_OK);
    EXPECT_EQ(sent(), "2.5;-0.125\n2.5;-0.125\n2.5\n2.5\n");

    // Read back, a "," stays a separator and "." the decimal point, as text or as any type.
    session.respond("2.5,-0.125\n");
    session.respond("2.5\n");
    unique_variant values, number;
    ASSERT_EQ(io->ReadList(NumberType_R8, bstr(L",").get(), values.get()), S_OK);
    double read[2] = {};
    for (LONG i = 0; i < 2; ++i)
        ASSERT_EQ(SafeArrayGetElement(V_ARRAY(values.get()), &i, &read[i]), S_OK);
    EXPECT_EQ(read[0], 2.5);
    EXPECT_EQ(read[1], -0.125);
    ASSERT_EQ(io->ReadNumber(NumberType(12), VARIANT_TRUE, number.get()), S_OK);
    EXPECT_EQ(V_VT(number.get()), VT_R8);
    EXPECT_EQ(V_R8(number.get()), 2.5);
}

// 測 and 定 are two bytes each in code page 932, the half-width ｱ one; a character's two bytes
// may be cut apart by the output area's end or between two reads of the session.
TEST_F(UserLocale, TextTakesTheCodePagesOneOrTwoBytesACharacter)
{
    if (!japanese)
        GTEST_SKIP() << "a double-byte code page is the Japanese user's";
    const std::string measure = "\x91\xaa\x92\xe8"; // 測定
    EXPECT_EQ(write(L"測定:VOLT ｱ?"), S_OK);
    EXPECT_EQ(sent(), measure + ":VOLT \xb1?\n");
    std::size_t before = sent().size();
    ASSERT_EQ(io->SetBufferSize(BufferMask_Output, 11), S_OK);
    std::wstring long_text;
    std::string long_bytes;
    for (int i = 0; i < 30; ++i) {
        long_text += i % 3 ? L"測定" : L"ｱ";
        long_bytes += i % 3 ? measure : "\xb1";
    }
    const std::size_t writes = session.writes().size();
    EXPECT_EQ(write(long_text), S_OK);
    EXPECT_EQ(sent().substr(before), long_bytes + "\n");
    EXPECT_GT(session.writes().size(), writes + 4);

    // Lists of strings: elements and separator in the code page's bytes, each a character whole.
    SAFEARRAYBOUND bound{2, 0};
    unique_variant list;
    V_VT(list.get()) = VT_ARRAY | VT_BSTR;
    V_ARRAY(list.get()) = SafeArrayCreate(VT_BSTR, 1, &bound);
    const wchar_t* elements[] = {L"測", L"ｱ定"};
    for (LONG i = 0; i < 2; ++i)
        ASSERT_EQ(SafeArrayPutElement(V_ARRAY(list.get()), &i, bstr(elements[i]).get()), S_OK);
    before = sent().size();
    EXPECT_EQ(io->WriteList(list.get(), NumberType(8), bstr(L",").get(), VARIANT_TRUE), S_OK);
    unique_variant byte;
    V_VT(byte.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(byte.get()) = SafeArrayCreateVector(VT_UI1, 0, 1);
    static_cast<unsigned char*>(V_ARRAY(byte.get())->pvData)[0] = 'A';
    EXPECT_EQ(io->WriteIEEEBlock(bstr(L"定:DATA").get(), *byte.get(), VARIANT_TRUE), S_OK);
    EXPECT_EQ(sent().substr(before), "\x91\xaa,\xb1\x92\xe8\n\x92\xe8:DATA #11A\n");

    // Read back byte by byte, so that every character arrives cut in two. Lists of any type
    // drop the bytes above 0x7F where an item starts, as no token starts with one, and keep
    // them inside an item.
    const auto byte_by_byte = [&](const std::string& response) {
        for (std::size_t at = 0; at < response.size(); ++at)
            session.add_chunk(response.substr(at, 1), at + 1 < response.size() ? status_count_reached : status_end);
    };
    const std::string text = measure + " OK,\xb1\x92\xe8\n";
    byte_by_byte(text);
    EXPECT_EQ(read(), L"測定 OK,ｱ定\n");
    byte_by_byte(text);
    byte_by_byte("V" + measure + ",7\x91\xaa,\x92\xe8" "5\n");
    for (const auto& [code, expected] : {std::pair{8L, L"測定 OK|ｱ定|"}, std::pair{12L, L"V測定|7測|5|"}}) {
        unique_variant items;
        ASSERT_EQ(io->ReadList(NumberType(code), bstr(L",").get(), items.get()), S_OK) << code;
        std::wstring joined;
        for (LONG i = 0; i < static_cast<LONG>(V_ARRAY(items.get())->rgsabound[0].cElements); ++i) {
            unique_variant item, shown;
            V_VT(item.get()) = code == 8 ? VT_BSTR : VT_EMPTY;
            void* const place = code == 8 ? static_cast<void*>(&V_BSTR(item.get())) : item.get();
            ASSERT_EQ(SafeArrayGetElement(V_ARRAY(items.get()), &i, place), S_OK);
            ASSERT_EQ(VariantChangeType(shown.get(), item.get(), 0, VT_BSTR), S_OK);
            joined += std::wstring(bstr_view(V_BSTR(shown.get()))) + L"|";
        }
        EXPECT_EQ(joined, expected) << code;
    }
}

} // namespace
} // namespace morvane::testing
