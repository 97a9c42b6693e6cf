#include "sim/com_transfer.hpp"

#include <algorithm>
#include <visacom.h>
#include "error/error_record.hpp"
#include "platform/bstr.hpp"
#include "platform/safearray.hpp"

namespace morvane::sim {

// The component takes a failing session's error information from the thread.
HRESULT failure(HRESULT hr, const wchar_t* description)
{
    return report_error(hr, description, error_source, IID_IMessage);
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
    try {
        const safearray_data access(array);
        bytes.assign(reinterpret_cast<const char*>(access.bytes()), static_cast<std::size_t>(count));
    } catch (const safearray_error& error) {
        return failure(error.hresult(), L"The buffer cannot be read.");
    }
    return S_OK;
}

HRESULT new_byte_array(std::string_view bytes, SAFEARRAY** out)
{
    unique_safearray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
    if (!array)
        return out_of_memory();
    try {
        const safearray_data access(array.get());
        std::ranges::copy(bytes, access.bytes());
    } catch (const safearray_error& error) {
        return failure(error.hresult(), L"The buffer cannot be written.");
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
    unique_bstr text(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
    if (!text)
        return out_of_memory();
    if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.get(), length) != length)
        return failure(E_UNEXPECTED, L"The response cannot be made text.");
    *out = text.release();
    return S_OK;
}

} // namespace morvane::sim
