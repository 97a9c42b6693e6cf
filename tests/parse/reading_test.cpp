// ReadNumber and ReadList through a bound object: values, errors, and what the next read sees.
#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include <optional>
#include <random>
#include <sstream>
#include "platform/ansi.hpp"
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

std::wstring value_text(const VARIANT& value)
{
    std::wostringstream text;
    switch (V_VT(&value)) {
    case VT_UI1: text << L"UI1 " << V_UI1(&value); break;
    case VT_I2: text << L"I2 " << V_I2(&value); break;
    case VT_I4: text << L"I4 " << V_I4(&value); break;
    case VT_R4: text << L"R4 " << V_R4(&value); break;
    case VT_R8: text << L"R8 " << V_R8(&value); break;
    case VT_BSTR: text << L"'" << bstr_view(V_BSTR(&value)) << L"'"; break;
    default: text << L"type " << V_VT(&value);
    }
    return text.str();
}

// "UI1[255 0]"-like: the element type once, then each element; VARIANT elements with their types.
std::wstring array_text(const VARIANT& result)
{
    if (!(V_VT(&result) & VT_ARRAY) || !V_ARRAY(&result))
        return L"not an array: " + value_text(result);
    SAFEARRAY* array = V_ARRAY(&result);
    LONG lower = 1, upper = 0;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    std::wstring text = value_text(VARIANT{}) + L"[";
    text = L"type " + std::to_wstring(V_VT(&result) & VT_TYPEMASK) + L" " + std::to_wstring(lower) + L".." +
           std::to_wstring(upper) + L":";
    for (LONG i = lower; i <= upper; ++i) {
        unique_variant element;
        if (V_VT(&result) == (VT_ARRAY | VT_VARIANT)) {
            SafeArrayGetElement(array, &i, element.get());
        } else {
            V_VT(element.get()) = V_VT(&result) & VT_TYPEMASK;
            SafeArrayGetElement(array, &i, &element.get()->llVal);
        }
        std::wstring item = value_text(*element);
        if (V_VT(&result) != (VT_ARRAY | VT_VARIANT))
            item = item.substr(item.find(L' ') + 1);
        text += L" " + (V_VT(&result) == (VT_ARRAY | VT_BSTR) ? L"'" + std::wstring(bstr_view(V_BSTR(element.get()))) + L"'" : item);
    }
    return text;
}

class Reading : public bound_fmtdio {
protected:
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
        std::memcpy(&type, &code, sizeof type);
        const HRESULT hr = io->ReadList(type, separators ? bstr(*separators).get() : nullptr, result.get());
        return SUCCEEDED(hr) ? array_text(*result) : outcome(hr);
    }
};

// Each response is followed by "next\n": the last column is what ReadString then returns.
TEST_F(Reading, NumberIsTheFirstTokenOfTheResponse)
{
    const struct {
        std::string response;
        bool flush;
        std::wstring result;
        std::wstring next;
    } rows[] = {
        {"1.5\n", false, L"R8 1.5", L"\n"},
        {" 42 \r\n", false, L"R8 42", L"\n"},
        {"+5.\n", false, L"R8 5", L".\n"},
        {"1.5,2,3\n", false, L"R8 1.5", L",2,3\n"},
        {"1.5,2,3\n", true, L"R8 1.5", L"next\n"},
        {"4294967296\n", true, L"R8 4.29497e+09", L"next\n"},
        {"\n2.5", true, L"R8 2.5", L"next\n"},
        {"1.5 E3\n", true, L"R8 1.5", L"next\n"},
        {"\r\n2.5", false, no_number(), L"2.5"},
        {"abc,1\n", false, no_number(), L"1\n"},
        {"1e999,1\n", false, no_number(), L"next\n"},
        {",1\n", true, no_number(), L"1\n"},
        {"", false, no_number(), L"next\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.response);
        session.respond(row.response);
        session.respond("next\n");
        EXPECT_EQ(read_number(row.flush), row.result);
        EXPECT_EQ(read(), row.next);
        if (row.next != L"next\n") {
            EXPECT_EQ(read(), L"next\n");
        }
    }
    // The number type is not looked at.
    session.respond("1,2\n");
    EXPECT_EQ(read_number(false, NumberType(99)), L"R8 1");
    EXPECT_EQ(read_number(false, NumberType(0)), no_number()) << "the rest starts with a separator";
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

// Each response is followed by "next\n": the last column is what ReadString then returns.
TEST_F(Reading, ListOfEachElementType)
{
    const struct {
        long code;
        std::string response;
        std::wstring result;
        std::wstring next = L"next\n";
        std::optional<std::wstring_view> separators = std::nullopt;
    } rows[] = {
        {12, "1.5,2,3\n", L"type 12 0..2: R8 1.5 I4 2 I4 3"},
        {5, "1.5,2,3\n", L"type 5 0..2: 1.5 2 3"},
        {3, "1.5,2.5,-7\n", L"type 3 0..2: 2 2 -7"},
        {2, "-32768;32767\n", L"type 2 0..1: -32768 32767"},
        {4, "7,0.1\n", L"type 4 0..1: 7 0.1"},
        {17, "255,0\n", L"type 17 0..1: 255 0"},
        {8, "1.5,2,3\n", L"type 8 0..2: '1.5' '2' '3'"},
        {8, "a, b;;c\nd", L"type 8 0..3: 'a' ' b' 'c' 'd'"},
        {8, "\"a,b\"\n", L"type 8 0..1: '\"a' 'b\"'"},
        {8, "\n", L"type 8 0..-1:"},
        {8, std::string("x\x80y\0z,\xe9\n", 8), L"type 8 0..1: 'x\u20acy' '\u00e9'"},
        {12, "1;2,5\n", L"type 12 0..1: I4 1 '2,5'", L"next\n", L";"},
        {12, "1;2:3,4\n", L"type 12 0..2: I4 1 I4 2 '3,4'", L"next\n", L";:"},
        {8, std::string("a\0b,c\n", 6), L"type 8 0..0: 'a'", L"next\n", std::wstring_view(L"\0,", 2)},
        {8, "a;b,c\n", L"type 8 0..1: 'a' 'b,c'", L"next\n", std::wstring_view(L";\0,", 3)},
        {12, "1;2,3\n", L"type 12 0..1: I4 1 '2,3'", L"next\n", std::wstring_view(L";\0,", 3)},
        {12, "1,abc,3\n", L"type 12 0..2: I4 1 'abc' I4 3"},
        {3, "1,2\n3,4\n", L"type 3 0..1: 1 2"},
        {8, "1,2\n3,4\n", L"type 8 0..3: '1' '2' '3' '4'"},
        {5, "1,2", L"type 5 0..1: 1 2"},
        {12, "7\n", L"type 12 0..0: I4 7"},
        // Failures: what the scanner took, read ahead too, is gone; the rest stays.
        {17, "256\n", not_parsed(), L""},
        {4, "1e39,1\n", not_parsed(), L"1\n"},
        {5, "", item_failure(1, true)},
        {12, "", terminated()},
        {5, "1,,2\n", item_failure(2, true), L"2\n"},
        {3, "1,2,\n", item_failure(3, false), L""},
        {5, "a,,b\n", item_failure(1, true), L",b\n"},
        {12, "a,,b\n", terminated(), L"b\n"},
        {3, "1,abc\n", item_failure(2, false), L""},
        {5, "1 2\n", item_failure(1, true), L""},
        {12, "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 32 33 34 35,9\n",
         L"type 12 0..1: '1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 32 "
         L"33 34 35' I4 9"},
        {5, std::string(100, '1') + "\n", not_parsed(), L"\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.response);
        session.respond(row.response);
        session.respond("next\n");
        EXPECT_EQ(read_list(row.code, row.separators), row.result);
        EXPECT_EQ(read(), row.next);
        if (row.next != L"next\n") {
            EXPECT_EQ(read(), L"next\n");
        }
    }
}

// Long lists fill many blocks of the value store, and the next list reuses them.
TEST_F(Reading, LongListsKeepEveryValueInOrder)
{
    std::string response;
    for (int i = 0; i < 40000; ++i)
        response += std::to_string(i) + (i % 5 ? "," : ".5,");
    response.back() = '\n';
    for (const VARTYPE type : {VT_I4, VT_R8, VT_VARIANT, VT_I4}) {
        session.respond(response);
        unique_variant result;
        ASSERT_EQ(io->ReadList(NumberType(type), nullptr, result.get()), S_OK);
        unique_variant element;
        for (LONG i = 0; i < 40000; ++i) {
            const HRESULT hr = SafeArrayGetElement(V_ARRAY(result.get()), &i, type == VT_VARIANT ? static_cast<void*>(element.get())
                                                                                                   : &element.get()->llVal);
            if (type != VT_VARIANT)
                V_VT(element.get()) = type;
            ASSERT_EQ(hr, S_OK);
            ASSERT_EQ(element.change_type(VT_R8), S_OK);
            const double read = i % 5 ? i : i + 0.5;
            const double expected = type == VT_I4 ? std::nearbyint(read) : read; // halves to even
            ASSERT_EQ(V_R8(element.get()), expected) << "element " << i << " of type " << type;
        }
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

// A number where the shortcut for plain numbers meets the automaton: leading zeros, 9 to 12
// digits, the 32-bit limits, exponents at the edges of a double.
std::string boundary_number(std::mt19937& random)
{
    static const char* const signs[] = {"", "", "-", "+"};
    static const char* const integers[] = {"7", "99", "999999999", "2147483647", "2147483648", "2147483646",
                                           "4294967295", "4294967296", "9999999999", "10000000000", "123456789012"};
    static const char* const tails[] = {"", "", "", ".", ".5", "e3", "e308", "e309", "E-324", "e-325", ".0e-400", "e"};
    std::uniform_int_distribution<std::size_t> sign(0, 3), integer(0, std::size(integers) - 1), zeros(0, 3),
        tail(0, std::size(tails) - 1);
    return signs[sign(random)] + std::string(zeros(random), '0') + integers[integer(random)] + tails[tail(random)];
}

// However the session cuts a response, the list and what stays for the next read are the
// same: numbers taken straight from a whole response agree with the automaton, which a
// response in one-byte chunks always goes through.
TEST_F(Reading, ResultDoesNotDependOnHowTheResponseIsCut)
{
    const auto seed = static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const char* const pieces[] = {"7", "-", "+", ".", "e", "E", "0", "99", "2147483647", "2147483648", "-2147483648",
                                  "4294967296", "1e999", "1e-400", " ", "\r", "x", ";", ",", ",", ",", "\n"};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1), length(1, 12);
    for (int round = 0; round < 600; ++round) {
        std::string response;
        for (std::size_t n = length(random); n > 0; --n)
            response += round % 3 ? pieces[pick(random)] : boundary_number(random) + (n % 4 ? "," : ";");
        response += round % 2 ? "\n" : "";
        for (const long code : {12L, 3L, 5L}) {
            session.respond(response);
            session.respond("next\n");
            // The list, what the next read gives, and "next" behind that.
            const auto list_then_next = [&] {
                const std::wstring list = read_list(code);
                const std::wstring next = read();
                if (next != L"next\n") {
                    EXPECT_EQ(read(), L"next\n");
                }
                return list + L" / " + next;
            };
            const std::wstring whole = list_then_next();
            for (const char byte : response)
                session.add_chunk(std::string(1, byte), status_count_reached);
            session.add_chunk("", status_end);
            session.respond("next\n");
            ASSERT_EQ(list_then_next(), whole) << "code " << code << ": " << response;
        }
        clear_thread_error();
    }
    // Integers that leading zeros make long are still integers, however they arrive.
    for (const auto& [response, result] :
         {std::pair{"1,00000000001\n", L"type 12 0..1: I4 1 I4 1"},
          {"1,02147483647\n", L"type 12 0..1: I4 1 I4 2147483647"},
          {"1,+00000000007,5\n", L"type 12 0..2: I4 1 I4 7 I4 5"},
          {"-0002147483648,02147483648\n", L"type 12 0..1: I4 -2147483648 R8 2.14748e+09"}}) {
        session.respond(response);
        EXPECT_EQ(read_list(12), result);
    }
    // One list of a few hundred bytes in chunks of every size.
    std::string list;
    for (int i = 0; i < 40; ++i)
        list += std::to_string(i * 37 % 1000) + (i % 3 ? ".25" : "") + (i % 7 == 0 ? ", text " : "") + ",";
    list += "-1e-3\nrest\n";
    session.respond(list);
    const std::wstring whole = read_list(12);
    EXPECT_EQ(whole.substr(0, 34), L"type 12 0..46: I4 0 ' text ' R8 37");
    for (std::size_t size = 1; size < list.size(); ++size) {
        for (std::size_t at = 0; at < list.size(); at += size)
            session.add_chunk(list.substr(at, size), at + size < list.size() ? status_count_reached : status_end);
        session.respond("next\n");
        ASSERT_EQ(read_list(12), whole) << "chunks of " << size;
        ASSERT_EQ(read(), L"next\n");
    }
}

} // namespace
} // namespace morvane::testing
