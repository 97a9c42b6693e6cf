// Numbers on the wire, both ways, for a user who kept US English but changed its decimal
// separator to ",", and for a German user: nothing on the wire may follow either. Each runs in a
// prefix of its own, named by MORVANE_USER_LOCALE.
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
        const bool german = std::string_view(user) == "german";
        ASSERT_EQ(GetUserDefaultLCID(), german ? 0x0407u : 0x0409u) << user;
        ASSERT_EQ(platform_text(2.5, LOCALE_USER_DEFAULT, 0), L"2,5") << user;
        bound_fmtdio::SetUp();
    }
    std::string sent() const
    {
        std::string all;
        for (const std::string& write : session.writes())
            all += write;
        return all;
    }
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

} // namespace
} // namespace morvane::testing
