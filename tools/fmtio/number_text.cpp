#include "number_text.hpp"

#include <oleauto.h>
#include <charconv>
#include <cmath>
#include <limits>
#include "platform/variant.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

template<typename T, typename... Format> std::string chars(T value, Format... format)
{
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, format...);
    return error == std::errc() ? std::string(text, end) : std::string("?");
}

} // namespace

std::string number_text(double value) { return chars(value); }

std::string number_text(float value) { return chars(value); }

std::string number_text(long long value) { return chars(value); }

std::string rounded_text(double value, int digits) { return chars(value, std::chars_format::general, digits); }

std::string variant_text(const VARIANT& value)
{
    switch (V_VT(&value)) {
    case VT_EMPTY: return "";
    case VT_I1: return number_text(static_cast<long long>(V_I1(&value)));
    case VT_UI1: return number_text(static_cast<long long>(V_UI1(&value)));
    case VT_I2: return number_text(static_cast<long long>(V_I2(&value)));
    case VT_UI2: return number_text(static_cast<long long>(V_UI2(&value)));
    case VT_I4: return number_text(static_cast<long long>(V_I4(&value)));
    case VT_UI4: return number_text(static_cast<long long>(V_UI4(&value)));
    case VT_INT: return number_text(static_cast<long long>(V_INT(&value)));
    case VT_I8: return number_text(static_cast<long long>(V_I8(&value)));
    case VT_R4: return number_text(V_R4(&value));
    case VT_R8: return number_text(V_R8(&value));
    case VT_BSTR: return bstr_to_utf8(V_BSTR(&value));
    default: break;
    }
    morvane::unique_variant text;
    if (FAILED(VariantChangeTypeEx(text.get(), const_cast<VARIANT*>(&value), LOCALE_INVARIANT, VARIANT_NOUSEROVERRIDE,
                                   VT_BSTR)))
        return "(a value of type " + std::to_string(V_VT(&value)) + ")";
    return variant_text(*text);
}

double variant_number(const VARIANT& value)
{
    switch (V_VT(&value)) {
    case VT_R4: return V_R4(&value);
    case VT_R8: return V_R8(&value);
    case VT_BSTR: return std::numeric_limits<double>::quiet_NaN();
    default: break;
    }
    morvane::unique_variant number;
    if (FAILED(VariantChangeTypeEx(number.get(), const_cast<VARIANT*>(&value), LOCALE_INVARIANT, VARIANT_NOUSEROVERRIDE,
                                   VT_R8)))
        return std::numeric_limits<double>::quiet_NaN();
    return V_R8(&*number);
}

} // namespace fmtio
