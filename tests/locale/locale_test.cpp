// Numbers on the wire both ways follow no user's settings (US English with a decimal comma, German,
// Japanese); text in the Japanese code page of one or two bytes a character. MORVANE_USER_LOCALE names the user.
#include <gtest/gtest.h>
#include <cstdlib>
#include <string_view>
#include "support/fmtdio_fixture.hpp"
#include "support/variant_values.hpp"

namespace morvane::testing {
namespace {

class UserLocale : public bound_fmtdio {
protected:
    void SetUp() override
    {
        // The premise: the user's locale, with its separator in force where flags allow it.
        const char* user = std::getenv("MORVANE_USER_LOCALE");
        ASSERT_TRUE(user) << "run by run_in_own_prefix.sh";
        japanese = std::string_view(user) == "japanese";
        if (japanese) {
            ASSERT_EQ(GetUserDefaultLCID(), 0x0411u);
            ASSERT_EQ(GetACP(), 932u);
        } else {
            const bool german = std::string_view(user) == "german";
            ASSERT_EQ(GetUserDefaultLCID(), german ? 0x0407u : 0x0409u) << user;
            unique_variant text;
            ASSERT_EQ(VariantChangeTypeEx(text.get(), value(VT_R8, L"2.5").get(), LOCALE_USER_DEFAULT, 0, VT_BSTR),
                      S_OK);
            ASSERT_EQ(std::wstring(bstr_view(V_BSTR(text.get()))), L"2,5") << user;
        }
        bound_fmtdio::SetUp();
    }
    bool japanese = false;
};

TEST_F(UserLocale, NumbersOnTheWireDoNotFollowIt)
{
    const unique_variant list = array(VT_VARIANT, values(VT_R8, {L"2.5", L"-0.125"})), text = value(VT_BSTR, L"2.50");
    for (const long code : {12L, 8L})
        EXPECT_EQ(io->WriteList(const_cast<VARIANT*>(&*list), NumberType(code), bstr(L";").get(), VARIANT_TRUE), S_OK);
    EXPECT_EQ(io->WriteNumber(*text, NumberType_R8, VARIANT_TRUE), S_OK);
    EXPECT_EQ(io->WriteNumber(*text, NumberType(12), VARIANT_TRUE), S_OK);
    EXPECT_EQ(session.sent(), "2.5;-0.125\n2.5;-0.125\n2.5\n2.5\n");

    // Read back, a "," stays a separator and "." the decimal point, as text or as any type.
    session.respond("2.5,-0.125\n");
    session.respond("2.5\n");
    unique_variant doubles, number;
    ASSERT_EQ(io->ReadList(NumberType_R8, bstr(L",").get(), doubles.get()), S_OK);
    EXPECT_EQ(contents(*doubles), contents(*array(VT_R8, values(VT_R8, {L"2.5", L"-0.125"}))));
    ASSERT_EQ(io->ReadNumber(NumberType(12), VARIANT_TRUE, number.get()), S_OK);
    EXPECT_EQ(contents(*number), L"5:2.5");
}

// 測 and 定 are two bytes each in code page 932, the half-width ｱ one; a character's two bytes may be cut
// apart by the output area's end or between two reads of the session.
TEST_F(UserLocale, TextTakesTheCodePagesOneOrTwoBytesACharacter)
{
    if (!japanese)
        GTEST_SKIP() << "a double-byte code page is the Japanese user's";
    const std::string measure = "\x91\xaa\x92\xe8"; // 測定
    EXPECT_EQ(write(L"測定:VOLT ｱ?"), S_OK);
    EXPECT_EQ(session.sent(), measure + ":VOLT \xb1?\n");
    std::size_t before = session.sent().size();
    ASSERT_EQ(io->SetBufferSize(BufferMask_Output, 11), S_OK);
    std::wstring long_text;
    std::string long_bytes;
    for (int i = 0; i < 30; ++i) {
        long_text += i % 3 ? L"測定" : L"ｱ";
        long_bytes += i % 3 ? measure : "\xb1";
    }
    const std::size_t writes = session.writes().size();
    EXPECT_EQ(write(long_text), S_OK);
    EXPECT_EQ(session.sent().substr(before), long_bytes + "\n");
    EXPECT_GT(session.writes().size(), writes + 4);

    // Lists of strings: elements and separator in the code page's bytes, each a character whole.
    const unique_variant list = array(VT_BSTR, values(VT_BSTR, {L"測", L"ｱ定"}));
    before = session.sent().size();
    EXPECT_EQ(io->WriteList(const_cast<VARIANT*>(&*list), NumberType(8), bstr(L",").get(), VARIANT_TRUE), S_OK);
    EXPECT_EQ(io->WriteIEEEBlock(bstr(L"定:DATA").get(), *elements(VT_UI1, "A"), VARIANT_TRUE), S_OK);
    EXPECT_EQ(session.sent().substr(before), "\x91\xaa,\xb1\x92\xe8\n\x92\xe8:DATA #11A\n");

    // Read back byte by byte, every character cut in two. Lists of any type drop the bytes above 0x7F where an
    // item starts, as no token starts with one, and keep them inside an item.
    const auto byte_by_byte = [&](const std::string& response) {
        for (std::size_t at = 0; at < response.size(); ++at)
            session.add_chunk(response.substr(at, 1), at + 1 < response.size() ? status_count_reached : status_end);
    };
    const std::string text = measure + " OK,\xb1\x92\xe8\n";
    byte_by_byte(text);
    EXPECT_EQ(read(), L"測定 OK,ｱ定\n");
    byte_by_byte(text);
    byte_by_byte("V" + measure + ",7" + measure.substr(0, 2) + "," + measure.substr(2) + "5\n");
    for (const auto& [code, expected] :
         {std::pair{8L, L"8200 from 0: 8:測定 OK 8:ｱ定"}, std::pair{12L, L"8204 from 0: 8:V測定 8:7測 3:5"}}) {
        unique_variant items;
        ASSERT_EQ(io->ReadList(NumberType(code), bstr(L",").get(), items.get()), S_OK) << code;
        EXPECT_EQ(contents(*items), expected) << code;
    }
}

} // namespace
} // namespace morvane::testing
