#pragma once
// What the message sessions share: IMessage with com_object's IUnknown, the session's error
// records under its own source, and the properties, read and set under the session's lock.
//
// A session class names its source and what a null out pointer gives:
//     static constexpr const wchar_t* error_source = L"...";
//     static HRESULT null_pointer();
#include <windows.h>
#include <mutex>
#include <string_view>
#include <visacom.h>
#include "com/com_object.hpp"
#include "error/error_record.hpp"

namespace morvane {

template <typename Session>
class message_session : public IMessage {
public:
    using interfaces = interface_list<IMessage>;

    virtual ~message_session() = default;

    // Leaves error information naming the session and IMessage on the thread; returns hr.
    static HRESULT report(HRESULT hr, std::wstring_view description) noexcept
    {
        return report_error(hr, description, Session::error_source, IID_IMessage);
    }

protected:
    message_session() = default;

    // Any non-zero value counts as true; a flag reads back as the canonical -1.
    static VARIANT_BOOL flag(VARIANT_BOOL on) noexcept { return on ? VARIANT_TRUE : VARIANT_FALSE; }

    template <typename T>
    HRESULT get(const T& field, T* out)
    {
        if (!out)
            return Session::null_pointer();
        const std::lock_guard guard(lock_);
        *out = field;
        return S_OK;
    }
    template <typename T>
    HRESULT put(T& field, T value)
    {
        const std::lock_guard guard(lock_);
        field = value;
        return S_OK;
    }

    std::mutex lock_;
};

} // namespace morvane
