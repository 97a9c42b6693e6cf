#pragma once
// VARIANT arguments made by the platform's conversion of text, arrays of them, and a VARIANT as one line of text.
#include <string>
#include <vector>
#include "platform/safearray.hpp"
#include "platform/variant.hpp"

namespace morvane::testing {

// Bytes as the characters of the same codes, and back.
inline std::wstring wide(std::string_view bytes) { return std::wstring(bytes.begin(), bytes.end()); }
inline std::string narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

// A VARIANT of `type` made from text by the platform's conversion (US English).
inline unique_variant value(VARTYPE type, const wchar_t* text)
{
    unique_variant v;
    V_VT(v.get()) = VT_BSTR;
    V_BSTR(v.get()) = SysAllocString(text);
    if (type != VT_BSTR)
        v.change_type(type);
    return v;
}

inline std::vector<unique_variant> values(VARTYPE type, const std::vector<const wchar_t*>& texts)
{
    std::vector<unique_variant> list;
    for (const wchar_t* text : texts)
        list.push_back(value(type, text));
    return list;
}

// A VARIANT that holds a one-dimensional array of `type`, indexed from `lower`.
inline unique_variant array(VARTYPE type, const std::vector<unique_variant>& elements, LONG lower = 0)
{
    SAFEARRAYBOUND bound{static_cast<ULONG>(elements.size()), lower};
    unique_variant holder;
    V_VT(holder.get()) = VT_ARRAY | type;
    V_ARRAY(holder.get()) = SafeArrayCreate(type, 1, &bound);
    for (LONG i = 0; i < LONG(elements.size()); ++i) {
        VARIANT* e = const_cast<VARIANT*>(&*elements[i]);
        LONG index = lower + i;
        SafeArrayPutElement(V_ARRAY(holder.get()), &index,
                            type == VT_BSTR      ? static_cast<void*>(V_BSTR(e))
                            : type == VT_VARIANT ? static_cast<void*>(e)
                                                 : static_cast<void*>(&e->llVal));
    }
    return holder;
}

// An array of `type` that holds as many whole elements of `memory` as it has, from `lower`.
inline unique_variant elements(VARTYPE type, const std::string& memory, LONG lower = 0)
{
    const ULONG size = unique_safearray(SafeArrayCreateVector(type, 0, 1))->cbElements;
    SAFEARRAYBOUND bound{static_cast<ULONG>(memory.size() / size), lower};
    unique_variant holder;
    V_VT(holder.get()) = VT_ARRAY | type;
    V_ARRAY(holder.get()) = SafeArrayCreate(type, 1, &bound);
    if (bound.cElements > 0)
        memory.copy(static_cast<char*>(V_ARRAY(holder.get())->pvData), bound.cElements * size);
    return holder;
}

// "type:text" for a value; "type from lower:" and each element of an array: numbers' bytes, "type:text" for others.
inline std::wstring contents(const VARIANT& v)
{
    const auto text = [](const VARIANT& x) {
        unique_variant t;
        t.change_type_from(x, VT_BSTR);
        return std::to_wstring(V_VT(&x)) + L":" + (t.type() == VT_BSTR ? V_BSTR(t.get()) : L"?");
    };
    if (!(V_VT(&v) & VT_ARRAY) || !V_ARRAY(&v))
        return text(v);
    const SAFEARRAY* a = V_ARRAY(&v);
    std::wstring line = std::to_wstring(V_VT(&v)) + L" from " + std::to_wstring(a->rgsabound[0].lLbound) + L":";
    const auto* bytes = static_cast<const unsigned char*>(a->pvData);
    for (ULONG i = 0; i < a->rgsabound[0].cElements; ++i) {
        VARIANT element{};
        V_VT(&element) = V_VT(&v) & VT_TYPEMASK;
        if (V_VT(&element) == VT_BSTR)
            V_BSTR(&element) = static_cast<BSTR const*>(a->pvData)[i];
        const VARIANT& shown = V_VT(&element) == VT_VARIANT ? static_cast<const VARIANT*>(a->pvData)[i] : element;
        line += V_VT(&element) == VT_BSTR || V_VT(&element) == VT_VARIANT
                    ? L" " + text(shown)
                    : std::wstring(bytes + i * a->cbElements, bytes + (i + 1) * a->cbElements);
    }
    return line;
}

} // namespace morvane::testing
