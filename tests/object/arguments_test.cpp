// The argument helpers of the data path: number types, copies and coercion of VARIANTs. Arrays
// held directly or by reference, from any lower bound, are tested through WriteList.
#include <gtest/gtest.h>
#include <comdef.h>
#include "object/arguments.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

TEST(Arguments, ElementCodesAreTheSevenWholeValues)
{
    for (const long code : {2, 3, 4, 5, 8, 12, 17})
        EXPECT_EQ(element_code(code, E_INVALIDARG), code);
    for (const HRESULT hr : {E_INVALIDARG, static_cast<HRESULT>(0x80040041)})
        for (const long code : {0, 7, 9, 65541}) {
            SCOPED_TRACE(code);
            EXPECT_EQ(describe(caught([&] { element_code(code, hr); })),
                      component_failure(hr, L"The NumberType argument was not a recognized enumeration value.", 1028));
        }
    EXPECT_EQ(number_type(65541), VT_R8) << "WriteNumber reads the low 16 bits";
}

TEST(Arguments, CopyAndCoercion)
{
    unique_variant value;
    VARIANT text{};
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"2.50");
    copy_argument(value, text);
    VariantClear(&text);
    coerce(value, VT_R8); // "." is the decimal point in US English, whatever the user's locale
    EXPECT_EQ(V_R8(value.get()), 2.5);
    V_I4(value.get()) = 70000;
    V_VT(value.get()) = VT_I4;
    try {
        coerce(value, VT_I2);
        ADD_FAILURE() << "70000 became a 16-bit integer";
    } catch (const win32_hresult_error& error) {
        EXPECT_EQ(error.hresult(), DISP_E_OVERFLOW);
        EXPECT_STREQ(error.what(), "The variant argument could not be coerced to the desired type.");
    }
    V_VT(&text) = 0x7FFF; // a type that cannot be copied
    EXPECT_THROW(copy_argument(value, text), _com_error);
}

} // namespace
} // namespace morvane::testing
