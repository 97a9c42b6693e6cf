#pragma once
// Owners of the automation types that cross the component's interface.
#include <windows.h>
#include <oleauto.h>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <wrl/client.h>
#include "text.hpp"

namespace fmtio {

template <typename T>
using com_ptr = Microsoft::WRL::ComPtr<T>;

class bstr {
public:
    bstr() = default;
    explicit bstr(std::wstring_view text)
        : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (!text_)
            throw std::bad_alloc();
    }
    explicit bstr(std::string_view utf8) : bstr(std::wstring_view(to_wide(utf8))) {}
    bstr(bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    bstr& operator=(bstr&& other) noexcept
    {
        std::swap(text_, other.text_);
        return *this;
    }
    ~bstr() { SysFreeString(text_); }

    BSTR get() const noexcept { return text_; }
    BSTR release() noexcept { return std::exchange(text_, nullptr); }
    BSTR* out() noexcept
    {
        SysFreeString(std::exchange(text_, nullptr));
        return &text_;
    }
    std::wstring_view view() const noexcept { return {text_ ? text_ : L"", SysStringLen(text_)}; }
    std::string utf8() const { return to_utf8(view()); }

private:
    BSTR text_ = nullptr;
};

class variant {
public:
    variant() noexcept { VariantInit(&value_); }
    variant(const variant&) = delete;
    variant& operator=(const variant&) = delete;
    ~variant() { VariantClear(&value_); }

    VARIANT* out() noexcept
    {
        VariantClear(&value_);
        return &value_;
    }
    VARIANT& get() noexcept { return value_; }
    const VARIANT& get() const noexcept { return value_; }

private:
    VARIANT value_;
};

class safe_array {
public:
    safe_array() = default;
    explicit safe_array(SAFEARRAY* array) noexcept : array_(array) {}
    safe_array(safe_array&& other) noexcept : array_(std::exchange(other.array_, nullptr)) {}
    safe_array& operator=(safe_array&& other) noexcept
    {
        std::swap(array_, other.array_);
        return *this;
    }
    ~safe_array()
    {
        if (array_)
            SafeArrayDestroy(array_);
    }

    SAFEARRAY* get() const noexcept { return array_; }
    SAFEARRAY* release() noexcept { return std::exchange(array_, nullptr); }

private:
    SAFEARRAY* array_ = nullptr;
};

// The elements of a one-dimensional array, locked for as long as the view lives.
template <typename T>
class array_data {
public:
    explicit array_data(SAFEARRAY* array) : array_(array)
    {
        if (FAILED(SafeArrayAccessData(array_, reinterpret_cast<void**>(&data_))))
            throw std::runtime_error("an array's elements cannot be reached");
    }
    array_data(const array_data&) = delete;
    array_data& operator=(const array_data&) = delete;
    ~array_data() { SafeArrayUnaccessData(array_); }

    T* begin() const noexcept { return data_; }
    T& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    SAFEARRAY* array_;
    T* data_ = nullptr;
};

} // namespace fmtio
