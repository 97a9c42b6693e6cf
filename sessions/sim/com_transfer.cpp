#include "sim/com_transfer.hpp"

#include <algorithm>
#include <memory>
#include <wrl/client.h>
#include <visacom.h>

namespace morvane::sim {
namespace {

constexpr const wchar_t* error_source = L"Morvane simulated instrument";

struct array_destroy {
    void operator()(SAFEARRAY* array) const noexcept { SafeArrayDestroy(array); }
};
using unique_array = std::unique_ptr<SAFEARRAY, array_destroy>;

class array_access {
public:
    explicit array_access(SAFEARRAY* array) : array_(array), result_(SafeArrayAccessData(array, &data_)) {}
    ~array_access()
    {
        if (SUCCEEDED(result_))
            SafeArrayUnaccessData(array_);
    }
    array_access(const array_access&) = delete;
    array_access& operator=(const array_access&) = delete;

    HRESULT result() const { return result_; }
    char* bytes() const { return static_cast<char*>(data_); }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
    HRESULT result_;
};

} // namespace

// The component takes a failing session's error information from the thread.
HRESULT failure(HRESULT hr, const wchar_t* description)
{
    Microsoft::WRL::ComPtr<ICreateErrorInfo> created;
    if (FAILED(CreateErrorInfo(&created)))
        return hr;
    Microsoft::WRL::ComPtr<IErrorInfo> record;
    if (FAILED(created->SetDescription(const_cast<LPOLESTR>(description))) ||
        FAILED(created->SetSource(const_cast<LPOLESTR>(error_source))) || FAILED(created->SetGUID(IID_IMessage)) ||
        FAILED(created.As(&record)))
        return hr;
    SetErrorInfo(0, record.Get());
    return hr;
}

HRESULT out_of_memory() { return failure(E_OUTOFMEMORY, L"Not enough memory for the transfer."); }

HRESULT bytes_of(SAFEARRAY* array, LONG count, std::string& bytes)
{
    LONG lower = 0, upper = -1;
    if (SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1 ||
        FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return failure(E_INVALIDARG, L"The buffer is not a one-dimensional array of bytes.");
    if (count < 0 || count > LONGLONG(upper) - lower + 1)
        return failure(E_INVALIDARG, L"The count does not fit the buffer.");
    if (count == 0)
        return S_OK;
    const array_access access(array);
    if (FAILED(access.result()))
        return failure(access.result(), L"The buffer cannot be read.");
    bytes.assign(access.bytes(), static_cast<std::size_t>(count));
    return S_OK;
}

HRESULT new_byte_array(std::string_view bytes, SAFEARRAY** out)
{
    unique_array array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
    if (!array)
        return out_of_memory();
    {
        const array_access access(array.get());
        if (FAILED(access.result()))
            return failure(access.result(), L"The buffer cannot be written.");
        std::ranges::copy(bytes, access.bytes());
    }
    *out = array.release();
    return S_OK;
}

// As text from a bus: the bytes are characters of the ANSI code page.
HRESULT new_string(std::string_view bytes, BSTR* out)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0)
        return failure(HRESULT_FROM_WIN32(GetLastError()), L"The response cannot be made text.");
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (!text)
        return out_of_memory();
    if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text, length) != length) {
        SysFreeString(text);
        return failure(E_UNEXPECTED, L"The response cannot be made text.");
    }
    *out = text;
    return S_OK;
}

} // namespace morvane::sim
