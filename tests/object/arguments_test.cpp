// The argument helpers of the data path: number types, copies and coercion of VARIANTs, and
// arrays held directly or by reference, with any lower bound.
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

// Arrays of any element type, held directly or by reference, are read from their own lower bound.
TEST(Arguments, ArrayViews)
{
    SAFEARRAYBOUND bound{3, 5}; // indices 5, 6, 7
    unique_safearray doubles(SafeArrayCreate(VT_R8, 1, &bound));
    unique_safearray texts(SafeArrayCreate(VT_VARIANT, 1, &bound));
    LONG seven = 7;
    double value = 10.5;
    VARIANT text{};
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"7");
    SafeArrayPutElement(doubles.get(), &seven, &value);
    SafeArrayPutElement(texts.get(), &seven, &text);
    VariantClear(&text);
    SAFEARRAY* by_reference = doubles.get();
    VARIANT holders[3] = {};
    V_VT(&holders[0]) = VT_ARRAY | VT_R8;
    V_ARRAY(&holders[0]) = doubles.get();
    V_VT(&holders[1]) = VT_ARRAY | VT_R8 | VT_BYREF;
    V_ARRAYREF(&holders[1]) = &by_reference;
    V_VT(&holders[2]) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&holders[2]) = texts.get();
    for (const VARIANT& holder : holders) {
        SCOPED_TRACE(V_VT(&holder));
        const std::optional<safearray_view> array = safearray_view::of(holder);
        ASSERT_TRUE(array);
        EXPECT_EQ(array->dimensions(), 1u);
        EXPECT_EQ(bounds_of(*array).lower, 5);
        EXPECT_EQ(bounds_of(*array).count(), 3u);
        unique_variant element;
        fetch_element(*array, 7, element);
        if (array->element_type() == VT_VARIANT)
            EXPECT_STREQ(V_BSTR(element.get()), L"7");
        else
            EXPECT_EQ(V_R8(element.get()), 10.5);
        EXPECT_EQ(element.type(), array->element_type() == VT_VARIANT ? VT_BSTR : VT_R8);
        EXPECT_THROW(fetch_element(*array, 8, element), win32_hresult_error) << "past the upper bound";
    }
    V_VT(&holders[0]) = VT_ARRAY | VT_I4; // the VARIANT and its array disagree
    unique_variant element;
    EXPECT_THROW(fetch_element(*safearray_view::of(holders[0]), 5, element), win32_hresult_error);
    EXPECT_FALSE(safearray_view::of(*element));
}

} // namespace
} // namespace morvane::testing
