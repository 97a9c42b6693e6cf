// Every number type in every method: wire text and bytes, read types, limits, byte order, refused codes; every boolean.
#include <gtest/gtest.h>
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <bit>
#include <cstring>
#include <cstdint>
#include <float.h>
#include <functional>
#include "support/fmtdio_fixture.hpp"
#include "support/variant_values.hpp"

namespace morvane::testing {
namespace {

using namespace std::string_literals;

// Any 32-bit value, as a client may pass it.
NumberType code_arg(long code) { return std::bit_cast<NumberType>(static_cast<std::int32_t>(code)); }

// A refusal that passes on the platform's answer to a coercion.
std::wstring coercion_failure(const VARIANT& from, VARTYPE type)
{
    const HRESULT hr = unique_variant().change_type_from(from, type);
    return component_failure(hr, L"The variant argument could not be coerced to the desired type.", 1017);
}
std::wstring coercion_failure(const wchar_t* text, VARTYPE to) { return coercion_failure(*value(VT_BSTR, text), to); }

class NumberTypes : public bound_fmtdio {
protected:
    // Over a fresh session: the call's outcome when it fails, then every byte that was sent.
    std::wstring sent(const std::function<HRESULT()>& call)
    {
        scripted_session fresh;
        EXPECT_EQ(io->putref_IO(&fresh), S_OK);
        const HRESULT hr = call();
        std::wstring text = FAILED(hr) ? outcome(hr) : L"";
        EXPECT_EQ(io->FlushWrite(VARIANT_FALSE), S_OK) << "a refusal leaves nothing behind";
        text += wide(fresh.sent());
        EXPECT_EQ(io->putref_IO(&session), S_OK);
        return text;
    }
    // The response read by ReadList, ReadNumber or ReadIEEEBlock: what the result holds, after the failure if any.
    enum reader { list, number, block };
    std::wstring got(const std::string& response, reader method, long code)
    {
        session.respond(response);
        unique_variant result;
        const HRESULT hr = method == list     ? io->ReadList(code_arg(code), nullptr, result.get())
                           : method == number ? io->ReadNumber(code_arg(code), VARIANT_FALSE, result.get())
                                              : io->ReadIEEEBlock(code_arg(code), 0, 0, result.get());
        const std::wstring held = contents(*result);
        io->FlushRead(), session.clear_chunks(); // what the read left is no later read's
        return FAILED(hr) ? outcome(hr) + L"; " + held : held;
    }
    HRESULT write_number(const VARIANT& v, long code) { return io->WriteNumber(v, code_arg(code), truth(true)); }
    HRESULT write_list(const VARIANT& v, long code, const wchar_t* separator = L",")
    {
        return io->WriteList(const_cast<VARIANT*>(&v), code_arg(code), bstr(separator).get(), truth(true));
    }
};

const wchar_t* const not_convertible = L"The Safearray cannot be converted to the desired type.";

// Numbers in their wire form, written as they stand and read back as the platform converts them; block
// elements of bytes that all differ, over 16 bytes or more, so that any wrong order shows.
TEST_F(NumberTypes, EachNumberTypeInEveryMethod)
{
    // The numbers (the limits after the first), the nearest outside the type and ReadList's failure on it, a block.
    // clang-format off
    const struct { VARTYPE code; std::vector<const wchar_t*> numbers; const wchar_t* beyond; std::wstring list_beyond;
                   std::string memory; } rows[] = {
        {VT_UI1, {L"7", L"0", L"255"}, L"256", not_parsed(), "\x00\x01\xff\xfe"s},
        {VT_I2, {L"7", L"-32768", L"32767"}, L"32768", not_parsed(),
         "\x01\x00\xfe\xff\x03\x02\x05\x04\x07\x06\x09\x08\x0b\x0a\x0d\x0c\x0f\x0e"s},
        {VT_I4, {L"7", L"-2147483648", L"2147483647"}, L"2147483648", not_parsed(),
         "\x04\x03\x02\x01\xfc\xfd\xfe\xff\x08\x07\x06\x05\x0c\x0b\x0a\x09\x10\x0f\x0e\x0d"s},
        {VT_R4, {L"0.1", L"-3.402823e+038", L"2.5e-005"}, L"3.5e+038", not_parsed(),
         "\x00\x00\xc0\x3f\x01\x02\x10\xc0\x14\x13\x12\x11\x18\x17\x16\x15\x1c\x1b\x1a\x19"s},
        {VT_R8, {L"0.1", L"-1.5e+308", L"4.94065645841247e-324"}, L"1.8e+308", item_failure(2, true),
         "\x00\x00\x00\x00\x00\x00\xf0\x3f\x08\x07\x06\x05\x04\x03\x02\x01\x18\x17\x16\x15\x14\x13\x12\x11"s}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "type " << row.code);
        const std::vector<unique_variant> typed = values(row.code, row.numbers);
        std::wstring joined;
        for (const wchar_t* number : row.numbers)
            joined += (joined.empty() ? L"" : L",") + std::wstring(number);
        // Coerced to the type if need be, or written in its own type (VT_VARIANT).
        for (const wchar_t* n : row.numbers)
            for (const auto& [from, to] :
                 {std::pair{row.code, row.code}, {VT_BSTR, row.code}, {VT_R8, row.code}, {row.code, VT_VARIANT}})
                EXPECT_EQ(sent([&] { return write_number(*value(from, n), to); }), n + L"\n"s) << from << " " << to;
        EXPECT_EQ(sent([&] { return write_number(*value(VT_BSTR, row.beyond), row.code); }),
                  coercion_failure(row.beyond, row.code));
        // Read where they lie, or fetched and converted one by one.
        for (const auto& held : {array(row.code, typed), array(VT_VARIANT, values(VT_R8, row.numbers)),
                                 array(VT_BSTR, values(VT_BSTR, row.numbers))})
            EXPECT_EQ(sent([&] { return write_list(*held, row.code); }), joined + L"\n") << V_VT(&*held);
        const unique_variant from_5 = array(VT_BSTR, values(VT_BSTR, {L"1", row.beyond}), 5);
        EXPECT_EQ(sent([&] { return write_list(*from_5, row.code); }),
                  component_failure(E_INVALIDARG, // broken at 80 columns as the platform does
                                    L"While attempting to convert element 6 of array to the desired data format, "
                                    L"this\r\nerror occurred:\r\n\"The variant argument could not be coerced to the "
                                    L"desired type.\".",
                                    1017));
        const std::string beyond = narrow(row.beyond);
        EXPECT_EQ(got(narrow(joined) + "\n", list, row.code), contents(*array(row.code, typed)));
        EXPECT_EQ(got(narrow(row.numbers[0]) + "," + beyond + "\n", list, row.code), row.list_beyond + L"; 0:");
        // A number is read as a double whatever the type, outside the type's range too.
        const bool finite = std::isfinite(std::wcstod(row.beyond, nullptr));
        EXPECT_EQ(got(beyond + ",1\n", number, row.code),
                  finite ? contents(*value(VT_R8, row.beyond)) : no_number() + L"; 0:");
        for (const bool big : {true, false}) {
            SCOPED_TRACE(big ? "big-endian" : "little-endian");
            ASSERT_EQ(io->put_InstrumentBigEndian(truth(big)), S_OK);
            std::string order = row.memory;
            const std::size_t size = SafeArrayGetElemsize(V_ARRAY(array(row.code, typed).get()));
            for (std::size_t at = 0; big && at < order.size(); at += size)
                std::reverse(order.begin() + at, order.begin() + at + size);
            const std::string length = std::to_string(order.size());
            const std::string wire = "#" + std::to_string(length.size()) + length + order;
            for (const long buffer_size : {1000, 3}) // chunks of 3 bytes cut through elements
                EXPECT_EQ(sent([&] {
                              io->SetBufferSize(BufferMask_Output, buffer_size);
                              return io->WriteIEEEBlock(nullptr, *elements(row.code, row.memory), truth(true));
                          }),
                          wide(wire + "\n"));
            EXPECT_EQ(got(wire + "\n", block, row.code), contents(*elements(row.code, row.memory)));
        }
    }
}

// Text, any type, and other codes: WriteNumber coerces to the code's low 16 bits and writes only numbers; the list
// methods compare all 32 bits; ReadNumber ignores the code; blocks take the five number types alone.
TEST_F(NumberTypes, TextAnyTypeAndOtherCodesInEveryMethod)
{
    const std::wstring unknown = L"The NumberType argument was not a recognized enumeration value.",
                       not_numeric = component_failure(
                           E_INVALIDARG, L"The VARIANT argument could not be coerced to a valid numeric format.", 1027),
                       list_refused = component_failure(E_INVALIDARG, unknown.c_str(), 1028),
                       read_refused = component_failure(data_failure, unknown.c_str(), 1028) + L"; 0:",
                       no_block = component_failure(
                           E_INVALIDARG, L"IEEE binary blocks cannot be of the type provided in the array argument.",
                           1025);
    // clang-format off
    const struct { long code; std::wstring write_number, write_list, read_list; } rows[] = {
        {VT_BSTR, L"2.5\n", L"-3,2.5,x y\n", L"8200 from 0: 8:1 8:2.5 8:x y"},
        {VT_VARIANT, L"2.5\n", L"-3,2.5,x y\n", L"8204 from 0: 3:1 5:2.5 8:x y"},
        {0, not_numeric, list_refused, read_refused},
        {VT_DATE, not_numeric, list_refused, read_refused},
        {VT_DISPATCH, coercion_failure(L"2.5", VT_DISPATCH), list_refused, read_refused},
        {VT_BOOL, not_numeric, list_refused, read_refused},
        {0x10002, L"2\n", list_refused, read_refused}, // 2 in the low 16 bits; 2.5 rounds to even
        {99, coercion_failure(L"2.5", 99), list_refused, read_refused}};
    // clang-format on
    std::vector<unique_variant> mixed = values(VT_I2, {L"-3"});
    mixed.push_back(value(VT_R8, L"2.5")), mixed.push_back(value(VT_BSTR, L"x y"));
    const unique_variant any = array(VT_VARIANT, mixed), two_bytes = value(VT_BSTR, L"ab");
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "code " << row.code);
        EXPECT_EQ(sent([&] { return write_number(*value(VT_R8, L"2.5"), row.code); }), row.write_number);
        EXPECT_EQ(sent([&] { return write_list(*any, row.code); }), row.write_list);
        EXPECT_EQ(got("1,2.5,x y\n", list, row.code), row.read_list);
        EXPECT_EQ(got("2.5,x\n", number, row.code), L"5:2.5");
        EXPECT_EQ(got("#12ab\n", block, row.code), component_failure(E_INVALIDARG, not_convertible, 1024) + L"; 0:");
        const VARTYPE type = VARTYPE(row.code);
        if (row.code == type && unique_safearray(SafeArrayCreateVector(type, 0, 0))) { // arrays of this type exist
            EXPECT_EQ(sent([&] { return io->WriteIEEEBlock(nullptr, *elements(type, "ab"), truth(true)); }), no_block);
        }
    }
    EXPECT_EQ(sent([&] { return write_number(*two_bytes, VT_BSTR); }), coercion_failure(L"ab", VT_R8));
    EXPECT_EQ(got("#16abcdef\n", block, VT_I4), component_failure(data_failure, not_convertible, 1024) + L"; 0:")
        << "6 bytes are no 32-bit integers";
}

// A client with overflow, invalid operation and division by zero unmasked gets the masked answers and its mask back.
TEST_F(NumberTypes, ClientsWithFloatingPointExceptionsUnmasked)
{
    VARIANT nan{}, huge{};
    V_VT(&nan) = V_VT(&huge) = VT_R8;
    V_R8(&nan) = std::nan(""), V_R8(&huge) = 1e300;
    const auto answers = [&] {
        std::wstring all;
        for (const long code : {5L, 4L, 3L, 2L, 17L})
            all += sent([&] { return write_number(nan, code); }) + L"|" +
                   sent([&] { return write_number(huge, code); }) + L"|";
        for (const long code : {12L, 4L, 3L})
            all += got("1e999,1.5e-400\n", list, code) + L"|" + got("-1e999\n", number, code) + L"|";
        return all;
    };
    const std::wstring masked = answers();
    unsigned int client = 0, after = 0;
    ASSERT_EQ(_controlfp_s(&client, _EM_INEXACT | _EM_UNDERFLOW | _EM_DENORMAL, _MCW_EM), 0);
    const std::wstring unmasked = answers();
    EXPECT_EQ(_controlfp_s(&after, 0, 0), 0);
    std::feclearexcept(FE_ALL_EXCEPT);
    volatile double tiny = 1e-300;
    tiny = tiny * tiny; // flags the client raised before a call are its own still after it
    write_number(huge, 4);
    const int flags = std::fetestexcept(FE_ALL_EXCEPT);
    _controlfp_s(&client, _MCW_EM, _MCW_EM);
    EXPECT_EQ(unmasked, masked);
    EXPECT_EQ(flags, FE_UNDERFLOW | FE_INEXACT);
    EXPECT_EQ(after & _MCW_EM, static_cast<unsigned int>(_EM_INEXACT | _EM_UNDERFLOW | _EM_DENORMAL));
}

// The order in which WriteNumber, WriteList and WriteIEEEBlock check and convert arguments, arrays by reference,
// elements that fail. A block goes after its command and a space; only its size is checked after the command.
TEST_F(NumberTypes, ArgumentsAreCheckedInOrder)
{
    const unique_variant doubles = array(VT_R8, values(VT_R8, {L"3", L"2.25"}));
    SAFEARRAY* referenced = V_ARRAY(&*doubles);
    VARIANT by_reference;
    V_VT(&by_reference) = VT_ARRAY | VT_R8 | VT_BYREF;
    V_ARRAYREF(&by_reference) = &referenced;
    const unique_variant big = value(VT_I4, L"70000"), two = elements(VT_I2, "\x01\x00\xfe\xff"s),
                         none = elements(VT_I4, ""), from_one = elements(VT_I4, "0123456789ab", 1),
                         eight_bytes = elements(VT_UI1, "12345678");
    VARIANT mislabelled = *doubles, as_doubles = *eight_bytes, no_array{}; // doubles as integers, bytes as doubles
    V_VT(&mislabelled) = VT_ARRAY | VT_I4;
    V_VT(&as_doubles) = VT_ARRAY | VT_R8;
    V_VT(&no_array) = VT_ARRAY | VT_I2;
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
    unique_variant two_dimensions;
    V_VT(two_dimensions.get()) = VT_ARRAY | VT_I4, V_ARRAY(two_dimensions.get()) = SafeArrayCreate(VT_I4, 2, bounds);
    std::memcpy(V_ARRAY(two_dimensions.get())->pvData, "\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    // 10^9 bytes, described but never read: the size is refused before the data is.
    VARIANT huge{};
    V_VT(&huge) = VT_ARRAY | VT_UI1;
    ASSERT_EQ(SafeArrayAllocDescriptorEx(VT_UI1, 1, &V_ARRAY(&huge)), S_OK);
    V_ARRAY(&huge)->fFeatures |= FADF_AUTO;
    V_ARRAY(&huge)->rgsabound[0] = {1'000'000'000, 0};
    V_ARRAY(&huge)->pvData = &huge;
    const auto block = [&](const wchar_t* command, const VARIANT& data) -> std::function<HRESULT()> {
        return [&, command, held = &data] {
            return io->WriteIEEEBlock(command ? bstr(command).get() : nullptr, *held, truth(true));
        };
    };
    // An element that cannot even be fetched, between two that can.
    const unique_variant unfetchable = array(VT_VARIANT, values(VT_I4, {L"1", L"2", L"3"}));
    V_VT(&static_cast<VARIANT*>(V_ARRAY(&*unfetchable)->pvData)[1]) = 15;
    const HRESULT fetch_failure = unique_variant().copy_from(static_cast<VARIANT*>(V_ARRAY(&*unfetchable)->pvData)[1]);
    // One that is fetched but has no text: what was written before it stays.
    std::vector<unique_variant> with_null = values(VT_I4, {L"1", L"2"});
    V_VT(with_null[1].get()) = VT_NULL;
    with_null.push_back(value(VT_I4, L"3"));
    const std::wstring no_text = coercion_failure(*with_null[1], VT_BSTR);
    const unique_variant textless = array(VT_VARIANT, std::move(with_null));
    const std::wstring not_single = component_failure(
        E_INVALIDARG, L"The list separator character parameter must be a string containing a single character.", 1035);
    // clang-format off
    const struct { const char* name; std::function<HRESULT()> call; std::wstring sent_or_refusal; } rows[] = {
        {"text read as a double", [&] { return write_number(*value(VT_BSTR, L"2.50"), 12); }, L"2.5\n"},
        {"two numbers, one message", [&] { return io->WriteNumber(*big, NumberType_I4, 0) | write_number(*big, 3); },
         L"7000070000\n"},
        {"an array, coerced first", [&] { return write_number(*doubles, 5); }, coercion_failure(*doubles, VT_R8)},
        {"an array", [&] { return write_number(*doubles, 12); },
         component_failure(E_INVALIDARG, L"Expected VARIANT argument to be a single number, not an array.", 1026)},
        {"a VARIANT that cannot be fetched leaves nothing behind", [&] { return write_list(*unfetchable, 12); },
         component_failure(fetch_failure, L"Bad Array Argument", 1017)},
        {"a VARIANT without text leaves the elements before it", [&] { return write_list(*textless, 12); },
         no_text + L"1,"},
        {"doubles by reference as integers", [&] { return write_list(by_reference, 3, L";"); }, L"3;2\n"},
        {"not an array, before the type", [&] { return write_list(*big, 99); },
         component_failure(E_INVALIDARG, L"WriteList expected an array argument to write.", 1031)},
        {"the type, before the separator", [&] { return write_list(*doubles, 65541, L""); },
         component_failure(E_INVALIDARG, L"The NumberType argument was not a recognized enumeration value.", 1028)},
        {"no separator", [&] { return io->WriteList(&by_reference, NumberType_R8, nullptr, -1); }, not_single},
        {"two separators", [&] { return write_list(*doubles, 5, L",,"); }, not_single},
        {"two dimensions", [&] { return write_list(*two_dimensions, 3); },
         component_failure(E_INVALIDARG, L"The Array argument was multidimensional.", 1029)},
        {"an array that is not what it says", [&] { return write_list(mislabelled, 3); },
         component_failure(DISP_E_TYPEMISMATCH, L"Bad Array Argument", 1017)},
        {"no elements", [&] { return write_list(*array(VT_I4, {}), 3); },
         component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033)},
        {"a block", block(L"CURV", *two), wide("CURV #14\x00\x01\xff\xfe\n"s)},
        {"a block after a command that ends in a space", block(L"A ", *two), wide("A  #14\x00\x01\xff\xfe\n"s)},
        {"an empty block, no command", block(L"", *none), L"#10\n"},
        {"a block by reference", block(nullptr, by_reference),
         wide("#216\x40\x08\0\0\0\0\0\0\x40\x02\0\0\0\0\0\0\n"s)},
        {"a block from lower bound 1", block(nullptr, *from_one), L"#21232107654ba98\n"},
        {"a block of the first dimension, from the start", block(nullptr, *two_dimensions),
         wide("#18\x04\x03\x02\x01\x08\x07\x06\x05\n"s)},
        {"a number as a block", block(L"CMD", *big), component_failure(E_INVALIDARG,
         L"IEEE binary blocks cannot be of the type provided in the array argument.", 1025)},
        {"no array as a block", block(L"CMD", no_array), describe(E_UNEXPECTED, nullptr)},
        {"more block elements than bytes", block(L"CMD", as_doubles), describe(E_UNEXPECTED, nullptr)},
        {"10^9 bytes", block(L"CMD", huge), component_failure(E_INVALIDARG,
         L"The Binary Block provided is too large for the IEEE block format.", 1018) + L"CMD "}};
    // clang-format on
    for (const auto& row : rows)
        EXPECT_EQ(sent(row.call), row.sent_or_refusal) << row.name;
    EXPECT_EQ(static_cast<const double*>(referenced->pvData)[0], 3.0) << "the caller's array is left as it was";
    V_VT(&static_cast<VARIANT*>(V_ARRAY(&*unfetchable)->pvData)[1]) = VT_I4; // destroyable again
    SafeArrayDestroyDescriptor(V_ARRAY(&huge));
}

using Booleans = bound_fmtdio;

TEST_F(Booleans, EveryTrueValueHasOneEffectAndFalseTheOther)
{
    const unique_variant one = value(VT_I4, L"1"), pair = array(VT_I4, values(VT_I4, {L"1", L"2"})),
                         word = elements(VT_I2, "\x02\x01"), byte = elements(VT_UI1, "x");
    // What a read into a VARIANT gives, or its failure.
    const auto result = [](const std::function<HRESULT(VARIANT*)>& read) {
        unique_variant v;
        const HRESULT hr = read(v.get());
        return narrow(FAILED(hr) ? outcome(hr) : contents(*v));
    };
    const auto block = [&](VARIANT_BOOL seek, VARIANT_BOOL flush, NumberType type = NumberType_UI1) {
        return result([&](VARIANT* v) { return io->ReadIEEEBlock(type, seek, flush, v); });
    };
    const std::string bare = "-2147418113 without a record"; // E_UNEXPECTED
    using act = std::function<lines(scripted_session&, VARIANT_BOOL)>;
    // Calls: the session's calls shown after what the act gives, by the start of their names; "@": the true value.
    // clang-format off
    const struct { const char* name; const char* calls; act call; lines if_true, if_false; } rows[] = {
        {"flush-and-END of WriteString, WriteNumber, WriteList, WriteIEEEBlock", "write", [&](auto&, VARIANT_BOOL b) {
             io->WriteString(bstr(L"A").get(), b), io->WriteNumber(*one, NumberType_I4, b);
             io->WriteList(const_cast<VARIANT*>(&*pair), NumberType_I4, bstr(L",").get(), b);
             return io->WriteIEEEBlock(nullptr, *byte, b), lines{}; },
         {"write 2 end", "write 2 end", "write 4 end", "write 5 end"}, {}},
        {"FlushWrite send-END, with nothing pending and then with one byte", "", [&](auto&, VARIANT_BOOL b) {
             return lines{std::to_string(io->FlushWrite(b)), std::to_string((write(L"A", 0), io->FlushWrite(b)))}; },
         {"-2147467259", "0", "write 2 end"}, lines{"0", "0"} + chunk(1)}, // E_FAIL: no END without data
        {"ReadNumber flush-to-END", "read ", [&](scripted_session& s, VARIANT_BOOL b) {
             s.respond("1,2\n"), s.respond("next\n");
             return lines{result([&](VARIANT* v) { return io->ReadNumber(NumberType_R8, b, v); }), narrow(read())}; },
         {"5:1", "next\n", "read 1000", "read 1000"}, {"5:1", ",2\n", "read 1000"}},
        {"ReadIEEEBlock seek-to-block", "", [&](scripted_session& s, VARIANT_BOOL b) {
             return s.respond("x#11a\n"), lines{block(b, 0)}; },
         {"8209 from 0:a", "get_termchar", "put_termchar 0", "read 1", "read 1", "read 1", "read 1", "read 1",
          "get_timeout", "put_timeout 100", "read 1", "put_timeout 2000", "put_termchar -1"},
         {bare, "get_termchar", "put_termchar 0", "read 1", "put_termchar -1"}},
        {"ReadIEEEBlock flush-to-END", "read_string", [&](scripted_session& s, VARIANT_BOOL b) {
             s.respond("abc", {3}, status_count_reached); // the message goes on after "abc"
             const std::string before = narrow(read());
             return s.add_chunk("#11a\n", status_end), s.add_chunk("rest\n", status_end), lines{before, block(0, b)}; },
         {"abc", "8209 from 0:a", "read_string 1000"}, {"abc", "8209 from 0:a"}},
        {"InstrumentBigEndian, kept through detaching and binding", nullptr, [&](scripted_session& s, VARIANT_BOOL b) {
             VARIANT_BOOL kept = 2;
             io->put_InstrumentBigEndian(b), io->putref_IO(nullptr), io->putref_IO(&s);
             io->get_InstrumentBigEndian(&kept), io->WriteIEEEBlock(nullptr, *word, -1), s.respond("#12\x01\x02\n");
             return lines{std::to_string(kept), block(0, 0, NumberType_I2), s.writes().at(0)}; },
         {"@", "8194 from 0:\x02\x01", "#12\x01\x02\n"}, {"0", "8194 from 0:\x01\x02", "#12\x02\x01\n"}},
        {"the session's SendEndEnabled", "", [&](scripted_session& s, VARIANT_BOOL b) {
             return s.set_send_end(b), write(std::wstring(1001, L'w')), lines{}; },
         chunk(1000) + lines{"write 2 end"}, {"get_send_end", "write 1000 noend", "write 2 noend"}},
        {"the session's TerminationCharacterEnabled", "put_termchar", [&](scripted_session& s, VARIANT_BOOL b) {
             return s.set_termination_character(b), s.respond("#11a\n"), lines{block(0, 0)}; },
         {"8209 from 0:a", "put_termchar 0", "put_termchar @"}, {"8209 from 0:a", "put_termchar 0"}},
        {"the same after a failed block read", "put_termchar", [&](scripted_session& s, VARIANT_BOOL b) {
             return s.set_termination_character(b), s.respond("x#11a\n"), lines{block(0, 0)}; },
         {bare, "put_termchar 0", "put_termchar @"}, {bare, "put_termchar 0"}}};
    // clang-format on
    for (const auto& row : rows)
        for (const VARIANT_BOOL b : {VARIANT_BOOL(-1), VARIANT_BOOL(1), VARIANT_BOOL(0x7FFF), VARIANT_BOOL(0)}) {
            SCOPED_TRACE(::testing::Message() << row.name << " " << b);
            scripted_session fresh;
            ASSERT_EQ(io->putref_IO(&fresh), S_OK);
            lines seen = row.call(fresh, b);
            if (row.calls)
                std::ranges::copy_if(fresh.trace(), std::back_inserter(seen),
                                     [&](const std::string& call) { return call.starts_with(row.calls); });
            lines expected = b ? row.if_true : row.if_false;
            for (std::string& line : expected)
                if (line.ends_with("@"))
                    line.replace(line.size() - 1, 1, std::to_string(b));
            EXPECT_EQ(seen, expected);
            clear_thread_error();
            ASSERT_EQ(io->putref_IO(&session), S_OK);
        }
}

} // namespace
} // namespace morvane::testing
