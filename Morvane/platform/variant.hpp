#pragma once
// Owning VARIANT: empty when made, cleared on every way out.
#include <windows.h>
#include <oleauto.h>
#include <cstddef>

namespace morvane {

class unique_variant {
public:
    unique_variant() noexcept { VariantInit(&m_value); }
    ~unique_variant() { clear(); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    unique_variant(unique_variant&& other) noexcept : m_value(other.release()) {}
    unique_variant& operator=(unique_variant&& other) noexcept
    {
        if (this != &other) {
            clear();
            m_value = other.release();
        }
        return *this;
    }

    VARIANT* get() noexcept { return &m_value; }
    const VARIANT& operator*() const noexcept { return m_value; }
    VARTYPE type() const noexcept { return V_VT(&m_value); }

    // Releases what it holds; empty afterwards even when the platform could not clear it.
    void clear() noexcept
    {
        if (FAILED(VariantClear(&m_value)))
            VariantInit(&m_value);
    }
    // A copy of `source` (strings, arrays and references copied as the platform copies them).
    HRESULT copy_from(const VARIANT& source) noexcept
    {
        clear();
        return VariantCopy(&m_value, const_cast<VARIANT*>(&source)); // the platform only reads it
    }
    // The platform's coercion, in place, in US English (locale 1033) as it is defined: a user
    // whose own locale is US English may have changed its decimal separator, and the text must
    // not follow the host.
    HRESULT change_type(VARTYPE type) noexcept { return change_type_from(m_value, type); }
    // The same coercion of `source`, which stays as it is, into this value.
    HRESULT change_type_from(const VARIANT& source, VARTYPE type) noexcept
    {
        return VariantChangeTypeEx(&m_value, const_cast<VARIANT*>(&source), us_english, coercion_flags, type);
    }
    // Hands the value over to the caller, who clears it; empty afterwards.
    VARIANT release() noexcept
    {
        VARIANT value = m_value;
        VariantInit(&m_value);
        return value;
    }

    static constexpr LCID us_english = 1033;
    static constexpr USHORT coercion_flags = VARIANT_NOUSEROVERRIDE;

private:
    VARIANT m_value;
};

// Bytes of one value of a number type (VT_UI1, VT_I2, VT_I4, VT_R4, VT_R8); 0 for any other type.
constexpr std::size_t number_size(VARTYPE type) noexcept
{
    switch (type) {
    case VT_UI1: return 1;
    case VT_I2: return 2;
    case VT_I4:
    case VT_R4: return 4;
    case VT_R8: return 8;
    default: return 0;
    }
}

} // namespace morvane
