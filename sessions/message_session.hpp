#pragma once
// What the message sessions share: IMessage, IMorvaneSession and IMorvaneSessionLimits with
// com_object's IUnknown, every method inside the call boundary, the session's error records
// under its own source, the properties, read and set under the session's lock, and the count
// of the current message's bytes that MaximumMessageSize bounds.
//
// A session class names its source and what a negative timeout is told, and defines the bodies
// of the methods that differ, which the boundary calls:
//     static constexpr const wchar_t* error_source = L"...";
//     static constexpr const wchar_t* negative_timeout = L"...";
//     HRESULT write(SAFEARRAY** buffer, LONG count, LONG* written);
//     HRESULT read(LONG count, SAFEARRAY** buffer);
//     HRESULT read_string(LONG count, BSTR* text);
//     HRESULT last_status(LONG* status);
//     HRESULT clear();
//     HRESULT read_status_byte(short* status);
//     HRESULT assert_trigger();
//     HRESULT enable_service_requests();  // under the lock: start what carries them, or fail
//     HRESULT disable_service_requests(); // under the lock
// and calls raise_service_request(status byte) as each request comes, from any thread.
// Its reads ask message_room() how much they may hand out, tell handed_out() what they did,
// and fail with message_too_long() past it.
#include <windows.h>
#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <iterator>
#include <chrono>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <visacom.h>
#include <morvane_sessions.h>
#include <comdef.h>
#include "session_codes.hpp"
#include "events/service_request_queue.hpp"
#include "events/sink_connection_point.hpp"
#include "com/call_boundary.hpp"
#include "com/com_object.hpp"
#include "error/error_record.hpp"
#include "platform/ansi.hpp"
#include "platform/platform_error.hpp"
#include "platform/safearray.hpp"

namespace morvane {

// clang-format off
template <typename Session>
class message_session : public IMessage, public IMorvaneSession, public IMorvaneSessionLimits, public IMorvaneServiceRequests,
                        public IConnectionPointContainer, public ISupportErrorInfo {
public:
    using interfaces = interface_list<IMessage, IMorvaneSession, IMorvaneSessionLimits, IMorvaneServiceRequests,
                                      IConnectionPointContainer, ISupportErrorInfo>;

    virtual ~message_session() = default;

    // Leaves error information naming the session and the interface on the thread; returns hr.
    static HRESULT report(HRESULT hr, std::wstring_view description, const IID& interface_id = IID_IMessage) noexcept
    {
        return report_error(hr, description, Session::error_source, interface_id);
    }
    static HRESULT null_pointer(const IID& interface_id = IID_IMessage) noexcept
    {
        return report(E_POINTER, L"A required pointer is null.", interface_id);
    }


    // Every method runs inside the boundary (com/call_boundary.hpp): what escapes a body is
    // reported under the session's source.
    STDMETHODIMP Write(SAFEARRAY** buffer, LONG count, LONG* written) final
    {
        return transfer([&] { return session().write(buffer, count, written); });
    }
    STDMETHODIMP Read(LONG count, SAFEARRAY** buffer) final
    {
        return transfer([&] { return session().read(count, buffer); });
    }
    STDMETHODIMP ReadString(LONG count, BSTR* text) final
    {
        return transfer([&] { return session().read_string(count, text); });
    }
    STDMETHODIMP get_LastStatus(LONG* status) final
    {
        return frame(IID_IMessage, [&] { return session().last_status(status); });
    }
    STDMETHODIMP Clear() final { return frame(IID_IMorvaneSession, [&] { return session().clear(); }); }
    STDMETHODIMP ReadStatusByte(short* status) final
    {
        return frame(IID_IMorvaneSession, [&] { return session().read_status_byte(status); });
    }
    STDMETHODIMP AssertTrigger() final
    {
        return frame(IID_IMorvaneSession, [&] { return session().assert_trigger(); });
    }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) final
    {
        return frame(IID_IMessage, [&] {
            return InlineIsEqualGUID(riid, IID_IMessage) || InlineIsEqualGUID(riid, IID_IMorvaneSession) ||
                           InlineIsEqualGUID(riid, IID_IMorvaneSessionLimits) ||
                           InlineIsEqualGUID(riid, IID_IMorvaneServiceRequests) ||
                           (std::is_base_of_v<IMorvaneLocking, Session> && InlineIsEqualGUID(riid, IID_IMorvaneLocking)) ||
                           (std::is_base_of_v<IMorvaneSerialSettings, Session> && InlineIsEqualGUID(riid, IID_IMorvaneSerialSettings))
                       ? S_OK
                       : S_FALSE;
        });
    }

    STDMETHODIMP get_ResourceName(BSTR* name) final
    {
        return frame(IID_IMorvaneSession, [&] {
            if (!name)
                return null_pointer(IID_IMorvaneSession);
            *name = SysAllocStringLen(m_resource_name.data(), static_cast<UINT>(m_resource_name.size()));
            return *name ? S_OK : report(E_OUTOFMEMORY, L"Not enough memory for the resource name.", IID_IMorvaneSession);
        });
    }
    STDMETHODIMP get_TerminationCharacter(BYTE* character) final
    {
        return get(m_termination_character, character, IID_IMorvaneSession);
    }
    STDMETHODIMP put_TerminationCharacter(BYTE character) final
    {
        return put(m_termination_character, character, IID_IMorvaneSession);
    }

    STDMETHODIMP get_SendEndEnabled(VARIANT_BOOL* on) final { return get(m_send_end, on); }
    STDMETHODIMP put_SendEndEnabled(VARIANT_BOOL on) final { return put(m_send_end, flag(on)); }
    STDMETHODIMP get_TerminationCharacterEnabled(VARIANT_BOOL* on) final { return get(m_termination, on); }
    STDMETHODIMP put_TerminationCharacterEnabled(VARIANT_BOOL on) final { return put(m_termination, flag(on)); }
    STDMETHODIMP get_Timeout(LONG* ms) final { return get(m_timeout_ms, ms); }
    STDMETHODIMP put_Timeout(LONG ms) final
    {
        if (ms < 0)
            return report(E_INVALIDARG, Session::negative_timeout);
        return put(m_timeout_ms, ms);
    }

    STDMETHODIMP get_MaximumMessageSize(LONG* bytes) final
    {
        return get(m_maximum_message_size, bytes, IID_IMorvaneSessionLimits);
    }
    STDMETHODIMP put_MaximumMessageSize(LONG bytes) final
    {
        if (bytes < 1)
            return report(E_INVALIDARG, L"MaximumMessageSize must be at least 1 byte.", IID_IMorvaneSessionLimits);
        return put(m_maximum_message_size, bytes, IID_IMorvaneSessionLimits);
    }

    STDMETHODIMP EnableServiceRequests() final
    {
        return frame(IID_IMorvaneServiceRequests, [&] {
            const std::lock_guard guard(m_lock);
            if (m_requests.enabled())
                return S_OK;
            const HRESULT hr = session().enable_service_requests();
            if (SUCCEEDED(hr))
                m_requests.enable(true);
            return hr;
        });
    }
    STDMETHODIMP DisableServiceRequests() final
    {
        return frame(IID_IMorvaneServiceRequests, [&] {
            const std::lock_guard guard(m_lock);
            if (!m_requests.enabled())
                return S_OK;
            m_requests.enable(false);
            return session().disable_service_requests();
        });
    }
    // Not under the lock: the session's other calls go on while a client waits.
    STDMETHODIMP WaitForServiceRequest(LONG timeout_ms, short* status_byte) final
    {
        return frame(IID_IMorvaneServiceRequests, [&] {
            if (!status_byte)
                return null_pointer(IID_IMorvaneServiceRequests);
            if (timeout_ms < 0)
                return report(E_INVALIDARG, L"The timeout must not be negative.", IID_IMorvaneServiceRequests);
            switch (m_requests.wait(std::chrono::milliseconds(timeout_ms), *status_byte)) {
            case events::service_request_queue::waited::got: return S_OK;
            case events::service_request_queue::waited::disabled:
                return report(session::service_requests_disabled,
                              L"Service requests are not enabled on this session.", IID_IMorvaneServiceRequests);
            default:
                return report(session::timeout_expired, L"No service request came within the timeout.",
                              IID_IMorvaneServiceRequests);
            }
        });
    }
    STDMETHODIMP DiscardServiceRequests() final
    {
        return frame(IID_IMorvaneServiceRequests, [&] { m_requests.discard(); });
    }
    STDMETHODIMP get_QueuedServiceRequests(LONG* count) final
    {
        return frame(IID_IMorvaneServiceRequests, [&] {
            if (!count)
                return null_pointer(IID_IMorvaneServiceRequests);
            *count = m_requests.queued();
            return S_OK;
        });
    }
    STDMETHODIMP get_DroppedServiceRequests(LONG* count) final
    {
        return frame(IID_IMorvaneServiceRequests, [&] {
            if (!count)
                return null_pointer(IID_IMorvaneServiceRequests);
            *count = m_requests.dropped();
            return S_OK;
        });
    }

    // Run by com_object before any destructor: a sink in its call still finds the whole session.
    void before_destruction() noexcept { m_sinks.stop(); }

    // The one connection point, for IMorvaneServiceRequestSink.
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) final
    {
        if (points)
            *points = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) final
    {
        if (!point)
            return E_POINTER;
        *point = nullptr;
        if (!InlineIsEqualGUID(riid, IID_IMorvaneServiceRequestSink))
            return CONNECT_E_NOCONNECTION;
        *point = &m_sink_point;
        m_sink_point.AddRef();
        return S_OK;
    }

protected:
    message_session(std::wstring resource_name, LONG timeout_ms)
        : m_resource_name(std::move(resource_name)), m_timeout_ms(timeout_ms) {}

    // A request came with this status byte: queued and sent to the sinks while enabled.
    void raise_service_request(short status_byte) noexcept
    {
        try {
            if (m_requests.push(status_byte))
                m_sinks.post(status_byte);
        } catch (const std::bad_alloc&) {
            // No memory for one more request: this one is lost, as one past a full queue is.
        }
    }
    bool service_requests_enabled() { return m_requests.enabled(); }
    // What a session whose connection carries no requests answers EnableServiceRequests.
    static HRESULT no_service_requests(std::wstring_view why)
    {
        return report(session::service_requests_unsupported, why, IID_IMorvaneServiceRequests);
    }

    // Any non-zero value counts as true; a flag reads back as the canonical -1.
    static VARIANT_BOOL flag(VARIANT_BOOL on) noexcept { return on ? VARIANT_TRUE : VARIANT_FALSE; }

    Session& session() noexcept { return static_cast<Session&>(*this); }
    template <typename Body>
    static HRESULT frame(const IID& interface_id, Body&& body) noexcept
    {
        return guarded_call({Session::error_source, interface_id}, body);
    }
    template <typename Body>
    static HRESULT transfer(Body&& body) noexcept
    {
        return guarded_call({Session::error_source, IID_IMessage, L"Not enough memory for the transfer."}, body);
    }

    // A property, read and set in the boundary under the lock.
    template <typename T>
    HRESULT get(const T& field, T* out, const IID& interface_id = IID_IMessage) noexcept
    {
        return frame(interface_id, [&] {
            if (!out)
                return null_pointer(interface_id);
            const std::lock_guard guard(m_lock);
            *out = field;
            return S_OK;
        });
    }
    template <typename T>
    HRESULT put(T& field, T value, const IID& interface_id = IID_IMessage) noexcept
    {
        return frame(interface_id, [&] {
            const std::lock_guard guard(m_lock);
            field = value;
        });
    }

    // Read and ReadString for a session whose `read_bytes(bytes)` reads into an array, under
    // the lock; ReadString gives the bytes as text in the ANSI code page.
    template <typename ReadBytes>
    HRESULT read_array(SAFEARRAY** buffer, ReadBytes read_bytes)
    {
        if (!buffer)
            return null_pointer();
        *buffer = nullptr;
        const std::lock_guard guard(m_lock);
        unique_safearray bytes;
        const HRESULT hr = read_bytes(bytes);
        *buffer = bytes.release();
        return hr;
    }
    template <typename ReadBytes>
    HRESULT read_text(BSTR* text, ReadBytes read_bytes)
    {
        if (!text)
            return null_pointer();
        *text = nullptr;
        const std::lock_guard guard(m_lock);
        unique_safearray bytes;
        if (const HRESULT hr = read_bytes(bytes); FAILED(hr))
            return hr;
        try {
            *text = ansi_to_bstr({static_cast<const char*>(bytes->pvData), bytes->rgsabound[0].cElements}).release();
            return S_OK;
        } catch (const _com_error&) {
            return report(E_OUTOFMEMORY, L"Not enough memory for the text read.");
        } catch (const platform_error& failed) {
            return report(failed.hresult(), L"The bytes read could not be converted to text.");
        }
    }

    // Under the lock: the bytes that a read may hand out before the message it reads passes
    // MaximumMessageSize; a read that needs one more fails.
    std::size_t message_room() const noexcept
    {
        return static_cast<std::size_t>(m_maximum_message_size) - std::min(m_message_read, static_cast<std::size_t>(m_maximum_message_size));
    }
    // A read handed out `count` bytes; `ended`: the message ended with them.
    void handed_out(std::size_t count, bool ended) noexcept { m_message_read = ended ? 0 : m_message_read + count; }
    // The read that would have passed MaximumMessageSize: the count starts again with the next
    // message, which the session finds by discarding the rest of this one.
    HRESULT message_too_long() noexcept
    {
        m_message_read = 0;
        wchar_t text[128];
        std::swprintf(text, std::size(text), L"The message passed MaximumMessageSize (%ld bytes); the rest of it is discarded.",
                      static_cast<long>(m_maximum_message_size));
        return report(session::message_too_long, text);
    }

    std::mutex m_lock;
    const std::wstring m_resource_name;
    // Both on, as a session opens; read under the lock.
    VARIANT_BOOL m_send_end = VARIANT_TRUE;
    VARIANT_BOOL m_termination = VARIANT_TRUE;
    BYTE m_termination_character = '\n';
    LONG m_timeout_ms;
    LONG m_maximum_message_size = session::default_maximum_message_size;
    std::size_t m_message_read = 0; // handed out since the last read that ended a message

private:
    events::service_request_queue m_requests;
    events::sink_delivery m_sinks{static_cast<IMessage*>(this)};
    events::sink_connection_point m_sink_point{*this, m_sinks};
};
// clang-format on

} // namespace morvane
