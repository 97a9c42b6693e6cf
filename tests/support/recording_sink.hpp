#pragma once
// A sink for service requests that records each call (the session, its name when `ask_name`, the status byte, the
// thread) and answers `answer` after `pause`; free-threaded unless told otherwise, then called in its apartment.
#include <windows.h>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include <morvane_sessions.h>
#include <wrl/client.h>
#include "platform/bstr.hpp"
#include "support/eventually.hpp"

namespace morvane::testing {

struct sink_options {
    bool free_threaded = true;
    bool ask_name = false;
    HRESULT answer = S_OK;
    std::chrono::milliseconds pause{0};
};

class recording_sink : public IMorvaneServiceRequestSink {
public:
    struct call {
        IUnknown* session;
        std::wstring name; // with ask_name
        short status_byte;
        DWORD thread;
    };

    explicit recording_sink(sink_options given = {}) : m_options(given)
    {
        if (given.free_threaded && FAILED(CoCreateFreeThreadedMarshaler(this, &m_marshaler)))
            throw std::runtime_error("no free-threaded marshaler");
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (m_marshaler && InlineIsEqualGUID(riid, IID_IMarshal))
            return m_marshaler->QueryInterface(riid, out);
        if (!InlineIsEqualGUID(riid, IID_IUnknown) && !InlineIsEqualGUID(riid, IID_IMorvaneServiceRequestSink)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IMorvaneServiceRequestSink*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_count; }
    STDMETHODIMP_(ULONG) Release() override { return --m_count; }
    STDMETHODIMP ServiceRequest(IUnknown* session, short status_byte) override
    {
        ++m_entered;
        std::this_thread::sleep_for(m_options.pause);
        // The session as this apartment sees it (through a proxy in a single-threaded one).
        Microsoft::WRL::ComPtr<IMorvaneSession> own;
        unique_bstr name;
        if (m_options.ask_name && session && SUCCEEDED(session->QueryInterface(IID_PPV_ARGS(&own))))
            own->get_ResourceName(name.put());
        const std::lock_guard guard(m_lock);
        m_calls.push_back(
            {session, name ? std::wstring(bstr_view(name.get())) : L"", status_byte, GetCurrentThreadId()});
        return m_options.answer;
    }

    std::vector<call> calls()
    {
        const std::lock_guard guard(m_lock);
        return m_calls;
    }
    // Waits up to 5 s for `count` calls.
    std::vector<call> calls_after(std::size_t count)
    {
        eventually([&] { return calls().size() >= count; }, std::chrono::seconds(5));
        return calls();
    }
    ULONG references() const { return m_count; }
    int entered() const { return m_entered; } // calls begun, ended or not

private:
    const sink_options m_options;
    std::atomic<ULONG> m_count{1};
    std::atomic<int> m_entered{0};
    Microsoft::WRL::ComPtr<IUnknown> m_marshaler;
    std::mutex m_lock;
    std::vector<call> m_calls;
};

} // namespace morvane::testing
