// WriteNumber and WriteList: what reaches the session byte for byte, and every refusal in the
// order the checks run.
#include <gtest/gtest.h>
#include <functional>
#include "support/fmtdio_fixture.hpp"
#include "support/variant_values.hpp"

namespace morvane::testing {
namespace {

// The platform's own answer to a coercion, for the errors that pass it on.
HRESULT coercion_result(const unique_variant& from, VARTYPE type)
{
    unique_variant to;
    return VariantChangeTypeEx(to.get(), const_cast<VARIANT*>(&*from), 1033, 0, type);
}

constexpr auto refused = component_failure;
const wchar_t* const coercion_text = L"The variant argument could not be coerced to the desired type.";

TEST_F(bound_fmtdio, WriteNumberAndWriteList)
{
    const unique_variant doubles = array(VT_R8, values(VT_R8, {L"3", L"2.25"}));
    SAFEARRAY* referenced = V_ARRAY(&*doubles);
    VARIANT by_reference;
    V_VT(&by_reference) = VT_ARRAY | VT_R8 | VT_BYREF;
    V_ARRAYREF(&by_reference) = &referenced;
    const unique_variant big = value(VT_I4, L"70000");
    VARIANT mislabelled = *doubles; // says 32-bit integers, holds doubles
    V_VT(&mislabelled) = VT_ARRAY | VT_I4;
    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    unique_variant two_dimensions;
    V_VT(two_dimensions.get()) = VT_ARRAY | VT_I4;
    V_ARRAY(two_dimensions.get()) = SafeArrayCreate(VT_I4, 2, square);
    // An element that cannot even be fetched, between two that can.
    const unique_variant unfetchable = array(VT_VARIANT, values(VT_I4, {L"1", L"2", L"3"}));
    V_VT(&static_cast<VARIANT*>(V_ARRAY(&*unfetchable)->pvData)[1]) = 15;
    unique_variant copy;
    const HRESULT fetch_failure = copy.copy_from(static_cast<VARIANT*>(V_ARRAY(&*unfetchable)->pvData)[1]);
    // One that is fetched but has no text: what was written before it stays.
    std::vector<unique_variant> with_null = values(VT_I4, {L"1", L"2"});
    V_VT(with_null[1].get()) = VT_NULL;
    with_null.push_back(value(VT_I4, L"3"));
    const HRESULT no_text = coercion_result(with_null[1], VT_BSTR);
    const unique_variant textless = array(VT_VARIANT, std::move(with_null));
    const auto number = [&](const unique_variant& v, long code, bool end = true) {
        return io->WriteNumber(*v, NumberType(code), truth(end));
    };
    const auto list = [&](const VARIANT& v, long code, const wchar_t* separator = L",") {
        return io->WriteList(const_cast<VARIANT*>(&v), NumberType(code), bstr(separator).get(), truth(true));
    };
    const struct {
        const char* name;
        std::function<HRESULT()> call;
        std::wstring expected; // what was sent, or the refusal
    } rows[] = {
        {"text read as a double", [&] { return number(value(VT_BSTR, L"2.50"), 12); }, L"2.5\n"},
        {"two numbers, one message", [&] { return number(value(VT_I4, L"1"), 3, false) | number(value(VT_I4, L"2"), 3); },
         L"12\n"},
        {"an array, coerced first", [&] { return number(doubles, 5); },
         refused(coercion_result(doubles, VT_R8), coercion_text, 1017)},
        {"an array", [&] { return number(doubles, 12); },
         refused(E_INVALIDARG, L"Expected VARIANT argument to be a single number, not an array.", 1026)},
        {"a VARIANT that cannot be fetched leaves nothing behind", [&] { return list(*unfetchable, 12); },
         refused(fetch_failure, L"Bad Array Argument", 1017)},
        {"a VARIANT without text leaves the elements before it", [&] { return list(*textless, 12); },
         refused(no_text, coercion_text, 1017) + L"1,"},
        {"doubles by reference as integers", [&] { return list(by_reference, 3, L";"); }, L"3;2\n"},
        {"not an array, before the type", [&] { return list(*big, 99); },
         refused(E_INVALIDARG, L"WriteList expected an array argument to write.", 1031)},
        {"the type, before the separator", [&] { return list(*doubles, 65541, L""); },
         refused(E_INVALIDARG, L"The NumberType argument was not a recognized enumeration value.", 1028)},
        {"no separator", [&] { return io->WriteList(&by_reference, NumberType_R8, nullptr, VARIANT_TRUE); },
         refused(E_INVALIDARG, L"The list separator character parameter must be a string containing a single character.",
                 1035)},
        {"two separators", [&] { return list(*doubles, 5, L",,"); },
         refused(E_INVALIDARG, L"The list separator character parameter must be a string containing a single character.",
                 1035)},
        {"two dimensions", [&] { return list(*two_dimensions, 3); },
         refused(E_INVALIDARG, L"The Array argument was multidimensional.", 1029)},
        {"an array that is not what it says", [&] { return list(mislabelled, 3); },
         refused(DISP_E_TYPEMISMATCH, L"Bad Array Argument", 1017)},
        {"no elements", [&] { return list(*array(VT_I4, {}), 3); },
         refused(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scripted_session fresh;
        ASSERT_EQ(io->putref_IO(&fresh), S_OK);
        const HRESULT hr = row.call();
        const std::wstring result = SUCCEEDED(hr) ? L"" : outcome(hr);
        const bool ended = !fresh.trace().empty() && fresh.trace().back().ends_with(" end");
        // A refusal leaves nothing in the output buffer for the next flush to send.
        EXPECT_EQ(io->FlushWrite(VARIANT_FALSE), S_OK);
        std::wstring sent;
        for (const std::string& write : fresh.writes())
            sent += std::wstring(write.begin(), write.end());
        EXPECT_EQ(SUCCEEDED(hr) ? sent : result + sent, row.expected);
        EXPECT_TRUE(FAILED(hr) || ended);
        ASSERT_EQ(io->putref_IO(&session), S_OK);
    }
    EXPECT_EQ(static_cast<const double*>(referenced->pvData)[0], 3.0) << "the caller's array is left as it was";
    V_VT(&static_cast<VARIANT*>(V_ARRAY(&*unfetchable)->pvData)[1]) = VT_I4; // destroyable again
}

} // namespace
} // namespace morvane::testing
