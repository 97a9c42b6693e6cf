#pragma once
// What the message sessions share: IMessage with com_object's IUnknown, the session's error
// records under its own source, and the properties, read and set under the session's lock.
//
// A session class names its source, what a null out pointer gives and what a negative timeout
// is told:
//     static constexpr const wchar_t* error_source = L"...";
//     static HRESULT null_pointer();
//     static constexpr const wchar_t* negative_timeout = L"...";
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

    STDMETHODIMP get_SendEndEnabled(VARIANT_BOOL* on) override { return get(send_end_, on); }
    STDMETHODIMP put_SendEndEnabled(VARIANT_BOOL on) override { return put(send_end_, flag(on)); }
    STDMETHODIMP get_TerminationCharacterEnabled(VARIANT_BOOL* on) override { return get(termination_, on); }
    STDMETHODIMP put_TerminationCharacterEnabled(VARIANT_BOOL on) override { return put(termination_, flag(on)); }
    STDMETHODIMP get_Timeout(LONG* ms) override { return get(timeout_ms_, ms); }
    STDMETHODIMP put_Timeout(LONG ms) override
    {
        if (ms < 0)
            return report(E_INVALIDARG, Session::negative_timeout);
        return put(timeout_ms_, ms);
    }

protected:
    explicit message_session(LONG timeout_ms) noexcept : timeout_ms_(timeout_ms) {}

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
    // Both on, as a session opens; read under the lock.
    VARIANT_BOOL send_end_ = VARIANT_TRUE;
    VARIANT_BOOL termination_ = VARIANT_TRUE;
    LONG timeout_ms_;
};

} // namespace morvane
