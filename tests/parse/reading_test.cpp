// ReadNumber and ReadList against the scanning rules and the C library's conversions, each read followed by the next.
#include <gtest/gtest.h>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <random>
#include <regex>
#include "parse/scan_rules.hpp"
#include "platform/ansi.hpp"
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

// The shortest text that reads back as exactly the same double.
std::wstring shortest(double value)
{
    char text[32];
    return std::wstring(text, std::to_chars(text, text + 32, value).ptr);
}
std::wstring r8(double value) { return L"R8 " + shortest(value); }

// "I4 7", "R8 1.5", "'text'"; "type 3" for others.
std::wstring value_text(const VARIANT& value)
{
    switch (V_VT(&value)) {
    case VT_I4: return L"I4 " + std::to_wstring(V_I4(&value));
    case VT_R8: return r8(V_R8(&value));
    case VT_BSTR: return L"'" + std::wstring(bstr_view(V_BSTR(&value))) + L"'";
    default: return L"type " + std::to_wstring(V_VT(&value));
    }
}

// "type 12 0..1: I4 7 'x'": the element type, the bounds, the elements (typed ones without their type).
std::wstring array_text(const VARIANT& result)
{
    if (!(V_VT(&result) & VT_ARRAY) || !V_ARRAY(&result))
        return L"not an array: " + value_text(result);
    const VARTYPE type = V_VT(&result) & VT_TYPEMASK;
    LONG lower = 1, upper = 0;
    SafeArrayGetLBound(V_ARRAY(&result), 1, &lower);
    SafeArrayGetUBound(V_ARRAY(&result), 1, &upper);
    std::wstring text =
        L"type " + std::to_wstring(type) + L" " + std::to_wstring(lower) + L".." + std::to_wstring(upper) + L":";
    for (LONG i = lower; i <= upper; ++i) {
        unique_variant element;
        V_VT(element.get()) = type == VT_VARIANT ? VARTYPE(VT_EMPTY) : type;
        void* const place = type == VT_VARIANT ? static_cast<void*>(element.get()) : &element.get()->llVal;
        SafeArrayGetElement(V_ARRAY(&result), &i, place);
        const std::wstring item = value_text(*element);
        text += L" " + (type == VT_VARIANT || type == VT_BSTR ? item : item.substr(item.find(L' ') + 1));
    }
    return text;
}

class Reading : public bound_fmtdio {
protected:
    // Random choices from a seed that a failure shows.
    const unsigned seed = static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
    std::mt19937 random{seed};
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); }
    // ReadNumber keeping (code 0) or dropping (1) the rest, else ReadList of the code: as value_text or array_text
    // give the result, or the outcome.
    std::wstring read_as(long code, std::optional<std::wstring_view> separators = std::nullopt)
    {
        unique_variant result;
        const HRESULT hr =
            code > 1 ? io->ReadList(NumberType(code), separators ? bstr(*separators).get() : nullptr, result.get())
                     : io->ReadNumber(NumberType_R8, truth(code), result.get());
        return FAILED(hr) ? outcome(hr) : code > 1 ? array_text(*result) : value_text(*result);
    }
    // Runs check over the response whole, then a byte per read, each before "next\n"; ReadString then gives the rest.
    template<typename Check>
    void in_each_cut(const std::string& response, Check&& check, const std::wstring& rest = L"next\n")
    {
        for (const bool bytewise : {false, true}) {
            SCOPED_TRACE(bytewise ? "one byte per read" : "whole");
            for (std::size_t at = 0; bytewise && at < response.size(); ++at)
                session.add_chunk(response.substr(at, 1), at + 1 < response.size() ? status_count_reached : status_end);
            if (!bytewise || response.empty())
                session.respond(response);
            session.respond("next\n");
            check();
            EXPECT_EQ(rest == L"next\n" ? L"next\n" : read(), rest);
            EXPECT_EQ(read(), L"next\n");
        }
    }
};

// The longest prefix that a rule matches, the first rule on a tie. The rules in priority order: blanks,
// signs, digits, points, exponents; ","; LF; a byte that starts a string.
scan_automaton::match reference_match(std::string_view text)
{
    static const std::string b = "[\\x00-\\x09\\x0B-\\x20]*", integer = b + "[+-]?" + b + "[0-9]+" + b,
                             real = "[0-9]+\\.[0-9]*" + b + "|" + b + "[+-]?" + b + "[0-9]*\\.[0-9]+";
    static const std::regex rules[] = {
        std::regex(integer), std::regex(","),
        std::regex(real),    std::regex("(" + integer + "|" + real + ")[Ee]" + integer),
        std::regex("\n"),    std::regex("[\\x00-\\x09\\x0B\\x0C\\x0E-\\x2B\\x2D-\\x7F]")};
    for (std::size_t length = text.size(); length > 0; --length)
        for (int rule = 0; rule < 6; ++rule)
            if (std::regex_match(text.begin(), text.begin() + length, rules[rule]))
                return {static_cast<scan_rule>(rule + 1), length};
    return {no_rule, 0};
}

// A number token's value, "I4 5" or "R8 1.5"; empty when it is too large for a double.
std::wstring token_value(const std::string& text, scan_rule rule)
{
    char* end = nullptr;
    const double converted = std::strtod(text.c_str(), &end);
    const double real = end == text.c_str() ? 0 : converted; // no number is 0 (a C library may say -0 after a sign)
    const long integer = std::strtol(text.c_str(), nullptr, 10);
    if (rule == integer_rule && integer == real)
        return L"I4 " + std::to_wstring(integer);
    return std::isfinite(real) ? r8(real) : L"";
}

// What a list read makes of one item: "I4 5", "R8 1.5", "'text'" (a number token must be the whole item);
// empty when every byte of it starts nothing and is dropped.
std::wstring item_by_the_rules(std::string_view item)
{
    for (; !item.empty(); item.remove_prefix(1)) {
        const auto [rule, length] = reference_match(item);
        const std::string text(item);
        const std::wstring value = rule != string_rule && length == text.size() ? token_value(text, rule) : L"";
        if (rule != no_rule)
            return value.empty() ? L"'" + from_ansi(text.substr(0, text.find('\0'))) + L"'" : value;
    }
    return {};
}

// Lists of number pieces and blanks of every kind, read as any type and as doubles, against the rules and strtod.
TEST_F(Reading, ItemsAreWhatTheRulesAndStrtodMakeThem)
{
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::string pieces[] = {
        "7", "0",  "000", "42",   "2147483647", "2147483648", "4294967296", "-",  "+",  ".",    ".5",
        "e", "E3", "e-1", "e999", " ",          "\t",         "\v",         "\f", "\r", "\x01", std::string(1, '\0'),
        "a"};
    for (int round = 0; round < 300; ++round) {
        std::string response;
        std::wstring any, doubles;
        std::size_t items = 1 + below(4), bad_any = 0, bad_double = 0;
        for (std::size_t n = 1; n <= items; ++n) {
            std::string item;
            for (std::size_t k = 1 + below(4); k > 0; --k)
                item += pieces[below(std::size(pieces))];
            response += (n > 1 ? "," : "") + item;
            const std::wstring value = item_by_the_rules(item);
            bad_any = bad_any ? bad_any : value.empty() ? n : 0;
            bad_double = bad_double ? bad_double : value.empty() || value[0] == L'\'' ? n : 0;
            any += L" " + value;
            if (value.starts_with(L"I4") || value.starts_with(L"R8"))
                doubles += L" " + shortest(std::stod(value.substr(3)));
        }
        response += below(2) ? "\n" : "";
        const std::wstring bounds = L" 0.." + std::to_wstring(items - 1) + L":";
        SCOPED_TRACE(::testing::PrintToString(response));
        in_each_cut(response, [&] {
            EXPECT_EQ(read_as(12), bad_any ? terminated() : L"type 12" + bounds + any);
            EXPECT_EQ(io->FlushRead(), S_OK);
        });
        in_each_cut(response, [&] {
            EXPECT_EQ(read_as(5), bad_double ? item_failure(int(bad_double), true) : L"type 5" + bounds + doubles);
            EXPECT_EQ(io->FlushRead(), S_OK);
        });
        if (HasFailure())
            break;
    }
}

// The last column is what ReadString then returns: what the reader took, read ahead too, is gone, the rest
// stays. A client's C runtime locale with a decimal comma changes nothing, also beyond the range of a double.
TEST_F(Reading, ResponsesCutIntoItems)
{
    ASSERT_TRUE(std::setlocale(LC_ALL, "German"));
    const std::string nul(1, '\0');
    // clang-format off
    const struct { long code; std::string response; std::wstring result, next = L"next\n";
                   std::optional<std::wstring_view> separators = std::nullopt; } rows[] = {
        // Blanks that strtod skips and other control bytes, around a number, inside it, at the end, for ReadNumber.
        {0, " 5,\t5,\v5,\f5,\r5, 5\x01\n", L"R8 5", L",\t5,\v5,\f5,\r5, 5\x01\n"},
        {0, "- 3,+\t2,-\r7, - 3 ,\x01" "5\n", L"R8 0", L",+\t2,-\r7, - 3 ,\x01" "5\n"},
        {0, "1 .5,1e 3,1 e3,1E- 3,1.5e\f3\n", L"R8 1", L".5,1e 3,1 e3,1E- 3,1.5e\f3\n"},
        {0, "- .5,+\t.5,-1.5 ,1.5 ,-1.5\t\n", L"R8 0", L",+\t.5,-1.5 ,1.5 ,-1.5\t\n"},
        {0, "\v\f 12.5e-1 \r", L"R8 1.25"},
        {0, "\n\n\t-42\t\r\n", L"R8 -42", L"\n"},
        {0, "5 \v6\n", L"R8 5", L"6\n"},
        {0, "-1.5\r\n", L"R8 -1.5", L"\r\n"},
        {0, "1,\t\n", L"R8 1", L",\t\n"},
        {0, "\r\n2.5\n", no_number(), L"2.5\n"},
        {12, "\r\n2.5\n", terminated(), L"2.5\n"},
        {0, "\f", no_number()},
        {8, "a, b;;c\nd", L"type 8 0..3: 'a' ' b' 'c' 'd'"},
        {8, "\n", L"type 8 0..-1:"},
        {8, "x\x80y" + nul + "z,\xe9\n", L"type 8 0..1: 'x\u20acy' '\u00e9'"},
        {12, "\n\n1,\"a,b\",#H1F", L"type 12 0..3: I4 1 '\"a' 'b\"' '#H1F'"},
        {12, "5.,+5.; 5.,-123456789012.,12x,1.2.3,1e5x", L"type 12 0..6: R8 5 '+5.' ' 5.' '-123456789012.' '12x' "
                                                         L"'1.2.3' '1e5x'"},
        {12, "4294967296,-2147483648,2147483647,2147483648,-0002147483648,00000000001\n",
         L"type 12 0..5: R8 4294967296 I4 -2147483648 I4 2147483647 R8 2147483648 I4 -2147483648 I4 1"},
        {12, "1.5e999,-2.5E+999,1.5e-400,4.9e-324,2.2250738585072011e-308\n",
         L"type 12 0..4: '1.5e999' '-2.5E+999' R8 0 R8 5e-324 R8 2.225073858507201e-308"},
        {12, "0.1,123456789012345678901234567890,9007199254740993,.5e1,-.5\n",
         L"type 12 0..4: R8 0.1 R8 1.2345678901234568e+29 R8 9007199254740992 R8 5 R8 -0.5"},
        {12, "a\x80" "b,\x80" "c,\x7f" "1\n", L"type 12 0..2: 'a\u20acb' 'c' '\x7f" L"1'"},
        {12, "\x80\n\xff" "7", L"type 12 0..0: I4 7"},
        {12, "\n\x80", terminated()},
        {12, "1" + nul + "2,a" + nul + "b", L"type 12 0..1: '1' 'a'"},
        {12, "1;2,5\n", L"type 12 0..1: I4 1 '2,5'", L"next\n", L";"},
        {12, "123:4567890:12345678;1,5\n", L"type 12 0..3: I4 123 I4 4567890 I4 12345678 '1,5'", L"next\n", L";:"},
        {8, "a" + nul + "b,c\n", L"type 8 0..0: 'a'", L"next\n", std::wstring_view(L"\0,", 2)},
        {8, "a;b,c\n", L"type 8 0..1: 'a' 'b,c'", L"next\n", std::wstring_view(L";\0,", 3)},
        {12, "1;2,3\n", L"type 12 0..1: I4 1 '2,3'", L"next\n", std::wstring_view(L";\0,", 3)},
        {0, "+5.\n", L"R8 5", L".\n"},
        {1, "1.5,2,3\n", L"R8 1.5"},
        {0, "1e999,2\n", no_number()},
        {0, "abc,2\n", no_number(), L"2\n"},
        {5, "1,,2\n", item_failure(2, true), L"2\n"},
        {3, "1,2,\n", item_failure(3, false), L""},
        {17, "255,256,1\n", not_parsed(), L"1\n"}, // a byte list converts each item
        {12, "a,,b\n", terminated(), L"b\n"},
        // The token buffer holds 100 bytes; a string item is not limited.
        {12, std::string(99, '9') + "\n", L"type 12 0..0: R8 1e+99"},
        {12, std::string(100, '9'), not_parsed(), L""},
        {12, std::string(98, ' ') + "5\n", L"type 12 0..0: I4 5"},
        {12, std::string(99, ' ') + "5\n", not_parsed(), L"\n"},
        {12, std::string(150, 'x'), L"type 12 0..0: '" + std::wstring(150, L'x') + L"'"}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.response));
        in_each_cut(
            row.response, [&] { EXPECT_EQ(read_as(row.code, row.separators), row.result); }, row.next);
    }
    std::setlocale(LC_ALL, "C");
}

} // namespace
} // namespace morvane::testing
