// ReadNumber and ReadList through a bound object: what the scanning rules and the C library's
// conversions make of a response, errors, and how reads in sequence share out the messages.
#include <gtest/gtest.h>
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <random>
#include "parse/scan_rules.hpp"
#include "platform/ansi.hpp"
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

// "I4 7", "R8 1.5" (the shortest text that reads back exactly), "'text'"; "type 3" for others.
std::wstring value_text(const VARIANT& value)
{
    char real[32] = "";
    const auto shortest = [&](auto number) { return std::wstring(real, std::to_chars(real, real + 32, number).ptr); };
    switch (V_VT(&value)) {
    case VT_UI1: return L"UI1 " + std::to_wstring(V_UI1(&value));
    case VT_I2: return L"I2 " + std::to_wstring(V_I2(&value));
    case VT_I4: return L"I4 " + std::to_wstring(V_I4(&value));
    case VT_R4: return L"R4 " + shortest(V_R4(&value));
    case VT_R8: return L"R8 " + shortest(V_R8(&value));
    case VT_BSTR: return L"'" + std::wstring(bstr_view(V_BSTR(&value))) + L"'";
    default: return L"type " + std::to_wstring(V_VT(&value));
    }
}
std::wstring r8(double value)
{
    VARIANT real{};
    V_VT(&real) = VT_R8, V_R8(&real) = value;
    return value_text(real);
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
    std::wstring text = L"type " + std::to_wstring(type) + L" " + std::to_wstring(lower) + L".." + std::to_wstring(upper) + L":";
    for (LONG i = lower; i <= upper; ++i) {
        unique_variant element;
        V_VT(element.get()) = type == VT_VARIANT ? VARTYPE(VT_EMPTY) : type;
        SafeArrayGetElement(V_ARRAY(&result), &i, type == VT_VARIANT ? static_cast<void*>(element.get()) : &element.get()->llVal);
        const std::wstring item = value_text(*element);
        text += L" " + (type == VT_VARIANT || type == VT_BSTR ? item : item.substr(item.find(L' ') + 1));
    }
    return text;
}

class Reading : public bound_fmtdio {
protected:
    // The results as value_text and array_text give them, or the outcome.
    std::wstring read_number(bool flush, NumberType type = NumberType_R8)
    {
        unique_variant result;
        const HRESULT hr = io->ReadNumber(type, truth(flush), result.get());
        return SUCCEEDED(hr) ? value_text(*result) : outcome(hr);
    }
    std::wstring read_list(long code, std::optional<std::wstring_view> separators = std::nullopt)
    {
        unique_variant result;
        NumberType type;
        std::memcpy(&type, &code, sizeof type); // codes that the enumeration lacks too
        const HRESULT hr = io->ReadList(type, separators ? bstr(*separators).get() : nullptr, result.get());
        return SUCCEEDED(hr) ? array_text(*result) : outcome(hr);
    }
    // Runs check over the response in one piece and then one byte per session read, each time
    // followed by "next\n", which check must leave as the next response.
    template <typename Check>
    void in_each_cut(const std::string& response, Check&& check)
    {
        for (const bool bytewise : {false, true}) {
            SCOPED_TRACE(bytewise ? "one byte per read" : "whole");
            for (std::size_t at = 0; bytewise && at < response.size(); ++at)
                session.add_chunk(response.substr(at, 1), at + 1 < response.size() ? status_count_reached : status_end);
            if (!bytewise || response.empty())
                session.respond(response);
            session.respond("next\n");
            check();
            EXPECT_EQ(read(), L"next\n");
        }
    }
    // What ReadString returns before "next\n".
    void then(const std::wstring& next)
    {
        if (next != L"next\n") {
            EXPECT_EQ(read(), next);
        }
    }
};

// White space as strtod and strtol skip it (space, TAB, VT, FF, CR; LF ends an item) and other
// control bytes, which the scanner takes as blanks too: around a number, inside it, at the end.
TEST_F(Reading, WhiteSpaceAroundAndInsideNumbers)
{
    const struct {
        std::string response;
        std::wstring number; // ReadNumber, with the rest kept
        std::wstring rest;   // what ReadString then returns
        std::wstring list;   // ReadList of any type
        std::wstring after = L"next\n";
    } rows[] = {
        {" 5,\t5,\v5,\f5,\r5, 5\x01\n", L"R8 5", L",\t5,\v5,\f5,\r5, 5\x01\n", L"type 12 0..5: I4 5 I4 5 I4 5 I4 5 I4 5 I4 5"},
        {"- 3,+\t2,-\r7, - 3 ,\x01" "5\n", L"R8 0", L",+\t2,-\r7, - 3 ,\x01" "5\n", L"type 12 0..4: I4 0 I4 0 I4 0 I4 0 I4 0"},
        {"1 .5,1e 3,1 e3,1E- 3,1.5e\f3\n", L"R8 1", L".5,1e 3,1 e3,1E- 3,1.5e\f3\n",
         L"type 12 0..4: '1 .5' R8 1 R8 1 R8 1 R8 1.5"},
        {"- .5,+\t.5,-1.5 ,1.5 ,-1.5\t\n", L"R8 0", L",+\t.5,-1.5 ,1.5 ,-1.5\t\n",
         L"type 12 0..4: R8 0 R8 0 '-1.5 ' R8 1.5 '-1.5\t'"},
        {"\v\f 12.5e-1 \r", L"R8 1.25", L"next\n", L"type 12 0..0: R8 1.25"},
        {"\n\n\t-42\t\r\n", L"R8 -42", L"\n", L"type 12 0..0: I4 -42"},
        {"5 \v6\n", L"R8 5", L"6\n", L"type 12 0..0: '5 \v6'"},
        {"-1.5\r\n", L"R8 -1.5", L"\r\n", L"type 12 0..0: '-1.5\r'"},
        {"1,\t\n", L"R8 1", L",\t\n", L"type 12 0..1: I4 1 '\t'"},
        {"1, \r\n", L"R8 1", L", \r\n", L"type 12 0..1: I4 1 ' \r'"},
        {"1,\r\n", L"R8 1", L",\r\n", terminated(), L""},
        {"\r\n2.5\n", no_number(), L"2.5\n", terminated(), L"2.5\n"},
        {"\f", no_number(), L"next\n", L"type 12 0..0: '\f'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.response));
        in_each_cut(row.response, [&] { EXPECT_EQ(read_number(false), row.number); then(row.rest); });
        in_each_cut(row.response, [&] { // a failed read drops nothing
            EXPECT_EQ(read_number(true), row.number);
            then(row.number == no_number() ? row.rest : L"next\n");
        });
        in_each_cut(row.response, [&] { EXPECT_EQ(read_list(12), row.list); then(row.after); });
    }
}

// ---- the rules: the automaton and, through the reads, the values

// The rules matched by brute force.
bool blank(char c) { return static_cast<unsigned char>(c) <= 0x20 && c != '\n'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

struct cursor {
    std::string_view text;
    std::size_t at = 0;
    bool take(bool (*is)(char)) { return at < text.size() && is(text[at]) ? ++at, true : false; }
    bool take(char c) { return at < text.size() && text[at] == c ? ++at, true : false; }
    void skip(bool (*is)(char)) { while (take(is)) {} }
    bool sign() { return take('+') || take('-'); }
    bool done() const { return at == text.size(); }
};

// blanks, optional sign, blanks, digits, blanks: rule 1, and the exponent's tail
bool integer_form(std::string_view text)
{
    cursor c{text};
    c.skip(blank), c.sign(), c.skip(blank);
    if (!c.take(digit))
        return false;
    c.skip(digit), c.skip(blank);
    return c.done();
}

bool real_form(std::string_view text)
{
    cursor a{text};
    if (a.take(digit) && (a.skip(digit), a.take('.')) && (a.skip(digit), a.skip(blank), a.done()))
        return true;
    cursor b{text};
    b.skip(blank), b.sign(), b.skip(blank), b.skip(digit);
    return b.take('.') && b.take(digit) && (b.skip(digit), b.done());
}

bool exponent_form(std::string_view text)
{
    for (std::size_t e = 0; e < text.size(); ++e)
        if ((text[e] == 'e' || text[e] == 'E') && (integer_form(text.substr(0, e)) || real_form(text.substr(0, e))) &&
            integer_form(text.substr(e + 1)))
            return true;
    return false;
}

bool string_start(std::string_view text)
{
    const unsigned char c = static_cast<unsigned char>(text[0]);
    return text.size() == 1 && c < 0x80 && c != '\n' && c != '\r' && c != ',';
}

scan_automaton::match reference_match(std::string_view text)
{
    bool (*const rules[])(std::string_view) = {
        integer_form, [](std::string_view t) { return t == ","; }, real_form, exponent_form,
        [](std::string_view t) { return t == "\n"; }, string_start};
    for (std::size_t length = text.size(); length > 0; --length)
        for (int rule = 0; rule < 6; ++rule)
            if (rules[rule](text.substr(0, length)))
                return {static_cast<scan_rule>(rule + 1), length};
    return {no_rule, 0};
}

TEST(Scanner, AutomatonMatchesTheRulesLongestFirstThenLowest)
{
    const std::string alphabet("0123456789+-.eE \t\r\n,;aZ\0\x80", 26);
    std::mt19937 random(20261206);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(1, 9);
    int mismatches = 0;
    for (int i = 0; i < 200000 && mismatches < 10; ++i) {
        std::string text(length(random), ' ');
        for (char& c : text)
            c = alphabet[pick(random)];
        const auto found = scan_automaton::longest(scan_condition::response, text);
        const auto expected = reference_match(text);
        if (found.rule != expected.rule || found.length != expected.length) {
            ++mismatches;
            ADD_FAILURE() << ::testing::PrintToString(text) << ": rule " << int(found.rule) << " length " << found.length
                          << ", expected rule " << int(expected.rule) << " length " << expected.length;
        }
        const bool initial = static_cast<unsigned char>(text[0]) < 0x80 && text[0] != '\n';
        const auto first = scan_automaton::longest(scan_condition::initial, text);
        EXPECT_EQ(first.rule, initial ? initial_rule : no_rule);
        EXPECT_EQ(first.length, initial ? 1u : 0u);
    }
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

// What a list read makes of one item, the text between separators: "I4 5", "R8 1.5", "'text'";
// empty when every byte of it starts nothing and is dropped. A number token must be the whole item.
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

// Lists of items made of number pieces and blanks of every kind, read as any type and as doubles,
// and ReadNumber with the rest it leaves, against the rules and the C library's conversions.
TEST_F(Reading, ItemsAreWhatTheRulesAndStrtodMakeThem)
{
    const auto seed = static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const std::string pieces[] = {"7", "0", "000", "42", "2147483647", "2147483648", "4294967296", "-", "+", ".", ".5",
                                  "e", "E3", "e-1", "e999", " ", "\t", "\v", "\f", "\r", "\x01", std::string(1, '\0'), "a"};
    for (int round = 0; round < 300; ++round) {
        std::string response, first;
        std::wstring any, doubles;
        std::size_t items = 1 + below(4), bad_any = 0, bad_double = 0;
        for (std::size_t n = 1; n <= items; ++n) {
            std::string item;
            for (std::size_t k = 1 + below(4); k > 0; --k)
                item += pieces[below(std::size(pieces))];
            response += (n > 1 ? "," : "") + item;
            first = n == 1 ? item : first;
            const std::wstring value = item_by_the_rules(item);
            bad_any = bad_any ? bad_any : value.empty() ? n : 0;
            bad_double = bad_double ? bad_double : value.empty() || value[0] == L'\'' ? n : 0;
            any += L" " + value;
            if (value.starts_with(L"I4") || value.starts_with(L"R8"))
                doubles += L" " + r8(std::stod(value.substr(3))).substr(3);
        }
        response += below(2) ? "\n" : "";
        const std::wstring bounds = L" 0.." + std::to_wstring(items - 1) + L":";
        SCOPED_TRACE(::testing::PrintToString(response));
        in_each_cut(response, [&] {
            EXPECT_EQ(read_list(12), bad_any ? terminated() : L"type 12" + bounds + any);
            EXPECT_EQ(io->FlushRead(), S_OK);
        });
        in_each_cut(response, [&] {
            EXPECT_EQ(read_list(5), bad_double ? item_failure(int(bad_double), true) : L"type 5" + bounds + doubles);
            EXPECT_EQ(io->FlushRead(), S_OK);
        });
        // The first token that starts at the first item decides; the rest follows the token.
        std::wstring number = no_number(), rest;
        for (std::size_t at = 0; at < first.size(); ++at) {
            const auto [rule, length] = reference_match(std::string_view(first).substr(at));
            if (rule == no_rule)
                continue;
            const std::wstring value = rule == string_rule ? L"" : token_value(first.substr(at, length), rule);
            number = value.empty() ? no_number() : r8(std::stod(value.substr(3)));
            rest = from_ansi(response.substr(at + length));
            break;
        }
        in_each_cut(response, [&] {
            EXPECT_EQ(read_number(false), number);
            number == no_number() ? void(io->FlushRead()) : then(rest.empty() ? L"next\n" : rest);
        });
        if (HasFailure())
            break;
    }
}

// A session failure behind a complete number: the read that keeps the rest does not see it.
TEST_F(Reading, NumberBeforeASessionFailure)
{
    for (const bool flush : {false, true}) {
        session.add_chunk("1.5", status_count_reached);
        session.fail(session_op::read, session.count(session_op::read) + 2, link_down, L"link down");
        EXPECT_EQ(read_number(flush), flush ? session_failure() : L"R8 1.5");
        session.respond("after\n");
        EXPECT_EQ(read(), L"after\n");
    }
    session.fail(session_op::read, session.count(session_op::read) + 1, link_down, L"link down");
    EXPECT_EQ(read_number(true), no_number());
}

// Lists of strings, separator arguments, and failures; the last column is what ReadString then
// returns: what the scanner took, read ahead too, is gone, the rest stays.
TEST_F(Reading, ListsBySeparatorsAndTheirFailures)
{
    const struct {
        long code;
        std::string response;
        std::wstring result;
        std::wstring next = L"next\n";
        std::optional<std::wstring_view> separators = std::nullopt;
    } rows[] = {
        {8, "a, b;;c\nd", L"type 8 0..3: 'a' ' b' 'c' 'd'"},
        {8, "\"a,b\"\n", L"type 8 0..1: '\"a' 'b\"'"},
        {8, "\n", L"type 8 0..-1:"},
        {8, std::string("x\x80y\0z,\xe9\n", 8), L"type 8 0..1: 'x\u20acy' '\u00e9'"},
        {12, "1;2,5\n", L"type 12 0..1: I4 1 '2,5'", L"next\n", L";"},
        {12, "1;2:3,4\n", L"type 12 0..2: I4 1 I4 2 '3,4'", L"next\n", L";:"},
        {8, std::string("a\0b,c\n", 6), L"type 8 0..0: 'a'", L"next\n", std::wstring_view(L"\0,", 2)},
        {8, "a;b,c\n", L"type 8 0..1: 'a' 'b,c'", L"next\n", std::wstring_view(L";\0,", 3)},
        {12, "1;2,3\n", L"type 12 0..1: I4 1 '2,3'", L"next\n", std::wstring_view(L";\0,", 3)},
        {5, "1,,2\n", item_failure(2, true), L"2\n"},
        {3, "1,2,\n", item_failure(3, false), L""},
        {5, "a,,b\n", item_failure(1, true), L",b\n"},
        {12, "a,,b\n", terminated(), L"b\n"},
        {5, "1 2\n", item_failure(1, true), L""},
        {12, "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 32 33 34 35,9\n",
         L"type 12 0..1: '1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 32 "
         L"33 34 35' I4 9"},
        {5, std::string(100, '1') + "\n", not_parsed(), L"\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.response);
        in_each_cut(row.response, [&] { EXPECT_EQ(read_list(row.code, row.separators), row.result); then(row.next); });
    }
}

// Long lists fill many blocks of the value store, and the next list reuses them.
TEST_F(Reading, LongListsKeepEveryValueInOrder)
{
    std::string response;
    std::wstring any = L"type 12 0..39999:", doubles = L"type 5 0..39999:", wholes = L"type 3 0..39999:";
    for (int i = 0; i < 40000; ++i) {
        const double value = i % 5 ? i : i + 0.5;
        response += (i ? "," : "") + std::to_string(i) + (i % 5 ? "" : ".5");
        any += L" " + (i % 5 ? L"I4 " + std::to_wstring(i) : r8(value));
        doubles += L" " + r8(value).substr(3);
        wholes += L" " + std::to_wstring(std::lrint(value)); // halves to even
    }
    for (const auto& [code, list] : {std::pair{3L, wholes}, {5L, doubles}, {12L, any}, {3L, wholes}}) {
        session.respond(response + "\n");
        EXPECT_TRUE(read_list(code) == list) << "type " << code;
    }
}

TEST_F(Reading, ListTypeIsCheckedAfterTheBinding)
{
    const std::wstring refused =
        component_failure(E_FORMATTEDIO_DATA, L"The NumberType argument was not a recognized enumeration value.", 1028);
    for (const long code : {0L, 7L, 9L, 65541L})
        EXPECT_EQ(read_list(code), refused);
    EXPECT_EQ(session.count(session_op::read), 0);
    EXPECT_EQ(io->putref_IO(nullptr), S_OK);
    EXPECT_EQ(read_list(0),
              component_failure(E_FAIL, L"No valid COM I/O resource available, set the IO property to a valid COM I/O resource.", 1030));
}

// The session fails after "1,2,": at an item the list fails; after an item it ends and the
// session's error is reported.
TEST_F(Reading, ListBeforeASessionFailure)
{
    for (const auto& [code, cut, result] : {std::tuple{3L, "1,2,", item_failure(3, false)},
                                            std::tuple{3L, "1,2", session_failure()},
                                            std::tuple{8L, "1,2", session_failure()}}) {
        session.add_chunk(cut, status_count_reached);
        session.fail(session_op::read, session.count(session_op::read) + 2, link_down, L"link down");
        EXPECT_EQ(read_list(code), result);
        session.respond("after\n");
        EXPECT_EQ(read(), L"after\n");
    }
}

// ---- reads in sequence against a model of how they share out a stream of messages

// Messages as their parts: items, each followed by its "," or LF but the last one at END.
// Reads stop between parts; a read that stops after a message's last byte leaves the
// end-of-file of the message to the next read.
struct message_model {
    std::vector<std::vector<std::string>> messages;
    std::size_t at = 0, part = 0; // the message, and its first part that no read has taken

    const std::vector<std::string>& m() const { return messages[at]; }
    std::wstring next(std::wstring result) { return ++at, part = 0, result; }
    std::wstring stop_at(std::size_t to, std::wstring result) { return part = to, result; }
    // Where a scan starts, past the line feeds that it drops: an item, or null at a "," or the end.
    const std::string* item()
    {
        while (part < m().size() && m()[part] == "\n")
            ++part;
        return part < m().size() && m()[part] != "," ? &m()[part] : nullptr;
    }
    // A "," met first is taken alone; at the end the end-of-file is taken.
    std::wstring nothing(std::wstring error) { return part == m().size() ? next(error) : stop_at(part + 1, error); }
    // A failed item is taken with the "," or LF behind it.
    std::wstring failed(std::wstring error) { return part + 2 > m().size() ? next(error) : stop_at(part + 2, error); }

    std::wstring read_string()
    {
        std::string rest;
        for (std::size_t i = part; i < m().size(); ++i)
            rest += m()[i];
        return next(from_ansi(rest));
    }
    void flush() { part > 0 ? void(next({})) : void(); } // nothing read of the message yet: nothing dropped
    std::wstring read_number(bool flush)
    {
        const std::wstring value = item() ? item_by_the_rules(*item()) : L"";
        if (value.empty() || value[0] == L'\'')
            return value.empty() ? nothing(no_number()) : failed(no_number());
        const std::wstring result = r8(std::stod(value.substr(3)));
        return flush || part + 1 == m().size() ? next(result) : stop_at(part + 1, result);
    }
    std::wstring read_list(long code)
    {
        std::wstring elements;
        int n = 0;
        for (std::size_t i = part; code == 8 && i < m().size(); ++i) // every item to the end
            if (m()[i] != "," && m()[i] != "\n")
                elements += L" '" + from_ansi(m()[i]) + L"'", ++n;
        if (code != 8 && !item())
            return nothing(code == 12 ? terminated() : item_failure(1, code == 5));
        for (; code != 8; part += 2) { // items up to a line feed or the end
            std::wstring element = item_by_the_rules(m()[part]);
            LONG whole = 0;
            if (code != 12 && element[0] == L'\'')
                return failed(item_failure(n + 1, code == 5));
            if (code == 3 && FAILED(VarI4FromR8(std::stod(element.substr(3)), &whole)))
                return failed(not_parsed());
            element = code == 12 ? element : code == 5 ? r8(std::stod(element.substr(3))).substr(3) : std::to_wstring(whole);
            elements += L" " + element, ++n;
            if (part + 1 == m().size() || m()[part + 1] == "\n")
                break; // the rest of the message is dropped
        }
        return next(L"type " + std::to_wstring(code) + L" 0.." + std::to_wstring(n - 1) + L":" + elements);
    }
};

// A few messages of items, some of several lines, ending at END with or without a final line
// feed or at a line feed with the termination character's status. Each arrives in chunks of
// random sizes, read through input buffers of random sizes that reads in between change.
// Whatever the cuts, each read takes what the model says and leaves the rest to the next.
TEST_F(Reading, ReadsInSequenceShareOutTheMessages)
{
    const auto seed = static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const char* const items[] = {"7", "-12", "+007", "1.5", "-0.25", "2.5E1", "abc", "4294967296"};
    const long buffer_sizes[] = {1, 2, 3, 5, 8, 13, 1000};
    for (int round = 0; round < 300 && !HasFailure(); ++round) {
        message_model model;
        std::string log = "messages";
        for (std::size_t count = 1 + below(4); count > 0; --count) {
            std::vector<std::string> parts;
            for (std::size_t n = below(5); n > 0; --n)
                parts.push_back(items[below(std::size(items))]), parts.push_back(below(4) ? "," : "\n");
            const long end = below(3) ? status_end : status_termination_character;
            if (!parts.empty() && (end == status_end && below(2)))
                parts.pop_back(); // no line feed at the end
            else if (!parts.empty())
                parts.back() = "\n";
            std::string text;
            for (const std::string& part : parts)
                text += part;
            if (text.empty())
                session.add_chunk("", status_end);
            for (std::size_t at = 0, size; at < text.size(); at += size) {
                size = 1 + below(std::min<std::size_t>(text.size() - at, below(2) ? 4 : 64));
                session.add_chunk(text.substr(at, size), at + size < text.size() ? status_count_reached : end);
            }
            log += " " + ::testing::PrintToString(text) + (end ? "(TC)" : "");
            model.messages.push_back(std::move(parts));
        }
        long in_size = 0;
        for (std::size_t op = 8; model.at < model.messages.size(); op = below(10)) {
            const std::size_t calls = session.calls().size();
            std::wstring got, expected;
            if (op == 0)
                log += ", ReadString", got = read(), expected = model.read_string();
            else if (op <= 2)
                log += op == 1 ? ", ReadNumber" : ", ReadNumber flushing", got = read_number(op == 2),
                expected = model.read_number(op == 2);
            else if (op <= 6) {
                const long code = std::array{12L, 5L, 3L, 8L}[op - 3];
                log += ", ReadList " + std::to_string(code), got = read_list(code), expected = model.read_list(code);
            } else {
                in_size = op == 7 ? in_size : buffer_sizes[below(std::size(buffer_sizes))];
                log += op == 7 ? ", FlushRead" : ", SetBufferSize " + std::to_string(in_size), model.flush();
                got = outcome(op == 7 ? io->FlushRead() : io->SetBufferSize(BufferMask(0x10), in_size)), expected = outcome(S_OK);
            }
            // Reads of a message ask for the buffer's size, draining for 1000 bytes.
            for (std::size_t i = calls; i < session.calls().size(); ++i)
                if (const session_call& call = session.calls()[i]; call.op == session_op::read || call.op == session_op::read_string)
                    got += call.count == (call.op == session_op::read ? in_size : 1000) ? L"" : L" (count asked)";
            ASSERT_EQ(got, expected) << log;
        }
        ASSERT_EQ(read(), session_failure(session_timed_out, session_timeout)) << log << ": nothing more";
    }
}

} // namespace
} // namespace morvane::testing
