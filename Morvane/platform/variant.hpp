#pragma once
// Owning VARIANT: empty when made, cleared on every way out.
#include <windows.h>
#include <oleauto.h>
#include <cstddef>

namespace morvane {

class unique_variant {
public:
    unique_variant() noexcept { VariantInit(&value_); }
    ~unique_variant() { clear(); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    unique_variant(unique_variant&& other) noexcept : value_(other.release()) {}
    unique_variant& operator=(unique_variant&& other) noexcept
    {
        if (this != &other) {
            clear();
            value_ = other.release();
        }
        return *this;
    }

    VARIANT* get() noexcept { return &value_; }
    const VARIANT& operator*() const noexcept { return value_; }
    VARTYPE type() const noexcept { return V_VT(&value_); }

    // Releases what it holds; empty afterwards even when the platform could not clear it.
    void clear() noexcept
    {
        if (FAILED(VariantClear(&value_)))
            VariantInit(&value_);
    }
    // A copy of `source` (strings, arrays and references copied as the platform copies them).
    HRESULT copy_from(const VARIANT& source) noexcept
    {
        clear();
        return VariantCopy(&value_, const_cast<VARIANT*>(&source)); // the platform only reads it
    }
    // The platform's coercion, in place, in US English (locale 1033) as it is defined: a user
    // whose own locale is US English may have changed its decimal separator, and the text must
    // not follow the host.
    HRESULT change_type(VARTYPE type) noexcept { return change_type_from(value_, type); }
    // The same coercion of `source`, which stays as it is, into this value.
    HRESULT change_type_from(const VARIANT& source, VARTYPE type) noexcept
    {
        return VariantChangeTypeEx(&value_, const_cast<VARIANT*>(&source), us_english, coercion_flags, type);
    }
    // Hands the value over to the caller, who clears it; empty afterwards.
    VARIANT release() noexcept
    {
        VARIANT value = value_;
        VariantInit(&value_);
        return value;
    }

    static constexpr LCID us_english = 1033;
    static constexpr USHORT coercion_flags = VARIANT_NOUSEROVERRIDE;

private:
    VARIANT value_;
};

// Bytes of one value of a number type (VT_UI1, VT_I2, VT_I4, VT_R4, VT_R8); 0 for any other type.
constexpr std::size_t number_size(VARTYPE type) noexcept
{
    switch (type) {
    case VT_UI1: return 1;
    case VT_I2: return 2;
    case VT_I4: case VT_R4: return 4;
    case VT_R8: return 8;
    default: return 0;
    }
}

} // namespace morvane
