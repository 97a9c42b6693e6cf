// FindResources' expressions: operators, refusals, length limit, no backtracking blow-up.
#include <gtest/gtest.h>
#include <string>
#include "server/resource_pattern.hpp"

namespace {

using morvane::sessions::resource_pattern;
using fault = resource_pattern::fault;

std::wstring times(std::wstring_view part, std::size_t count)
{
    std::wstring text;
    while (count--)
        text += part;
    return text;
}

TEST(ResourcePattern, MatchesWholeNamesInEitherCase)
{
    // clang-format off
    const struct { const wchar_t *expression, *name; bool matches; } cases[] = {
        {L"S?M", L"sim", true}, {L"S?M", L"SM", false}, {L"S?M", L"SIIM", false}, {L"SIM", L"SIMX", false},
        {L"SIM", L"XSIM", false}, {L"", L"", true}, {L"", L"A", false}, {L"SI*M", L"SM", true},
        {L"SI*M", L"SIIIM", true}, {L"SI*M", L"SXM", false}, {L"SI+M", L"SM", false}, {L"SI+M", L"SIIM", true},
        {L"SI+*M", L"SM", true}, {L"SI*+M", L"SM", true}, {L"SI++M", L"SM", false}, {L"?*", L"", true},
        {L"[A-C]X", L"bx", true}, {L"[a-c]X", L"BX", true}, {L"[A-C]X", L"DX", false}, {L"[^A-C]X", L"DX", true},
        {L"[^A-C]X", L"bX", false}, {L"[^s]", L"S", false}, {L"[a-]", L"-", true}, {L"[\\]]", L"]", true},
        {L"[?]", L"?", true}, {L"[?]", L"X", false}, {L"[]?*", L"A", false}, {L"[^]", L"Z", true},
        {L"[0-9x]*", L"12X3", true}, {L"[0-9x]*", L"12Y", false}, {L"(GPIB|SIM)", L"SIM", true},
        {L"(GPIB|SIM)", L"gpib", true}, {L"(GPIB|SIM)", L"GPIBSIM", false}, {L"(A|B|C)", L"C", true},
        {L"(|A)B", L"B", true}, {L"SIM|TCPIP?*", L"TCPIP::x", true}, {L"((AB)+C)*", L"ABABCABC", true},
        {L"((AB)+C)*", L"ABAC", false}, {L"(A(B|C)*)+", L"ABCCAB", true}, {L"\\*", L"*", true}, {L"\\*", L"", false},
        {L"\\(A\\)", L"(A)", true}, {L"\\?", L"X", false}, {L"S\\IM", L"SIM", true}, {L"a^b-c]", L"A^B-C]", true},
        {L"S.M", L"SIM", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        const resource_pattern pattern(c.expression);
        EXPECT_EQ(pattern.refusal(), fault::none) << c.expression;
        EXPECT_EQ(pattern.matches(c.name), c.matches) << c.expression << L" on " << c.name;
    }
}

TEST(ResourcePattern, RefusesMalformedAndLongExpressions)
{
    const std::wstring longest = times(L"(", 333) + L"A" + times(L")*", 333);
    ASSERT_EQ(longest.size(), resource_pattern::longest_expression);
    // clang-format off
    const struct { std::wstring expression; fault refusal; } cases[] = {
        {L"*SIM", fault::malformed}, {L"SIM\\", fault::malformed}, {L"[SIM", fault::malformed},
        {L"(SIM", fault::malformed}, {L"SIM)", fault::malformed}, {L"(A|*B)", fault::malformed},
        {L"[z-a]", fault::malformed}, {L"[a-\\", fault::malformed}, {std::wstring(L"S\0M", 3), fault::malformed},
        {std::wstring(L"S\\\0M", 4), fault::malformed}, {std::wstring(L"[\0]", 3), fault::malformed},
        {longest, fault::none}, {L"A" + longest, fault::too_long}, {times(L"(", 17000), fault::too_long},
    };
    // clang-format on
    for (const auto& c : cases) {
        const resource_pattern pattern(c.expression);
        EXPECT_EQ(pattern.refusal(), c.refusal) << c.expression;
        EXPECT_EQ(pattern.matches(L"A"), c.refusal == fault::none) << c.expression;
    }
}

TEST(ResourcePattern, TakesAsLongAsTheNameTimesTheExpressionAtMost)
{
    const std::wstring a = times(L"A", 20000);
    // clang-format off
    const struct { std::wstring expression, name; bool matches; } cases[] = {
        {L"(?*)*Z", a, false}, {L"(?*)*Z", a + L"Z", true}, {L"((a*)*)*b", a, false}, {L"((a*)*)*b", a + L"b", true},
        {times(L"(a|a)*", 166), a.substr(0, 3000) + L"b", false}, {times(L"(a|a)*", 166), a.substr(0, 3000), true},
        {times(L"(", 333) + L"A" + times(L")*", 333), a + L"B", false},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(resource_pattern(c.expression).matches(c.name), c.matches) << c.expression.substr(0, 20);
}

} // namespace
