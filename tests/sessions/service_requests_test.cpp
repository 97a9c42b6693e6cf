// Service requests through the resource manager's sessions of every kind that carries them.
#include <atomic>
#include <mutex>
#include <stdexcept>
#include "platform/com_apartment.hpp"
#include "sessions_client.hpp"
#include "support/eventually.hpp"
#include "support/shipped_files.hpp"

namespace morvane::testing {
namespace {

constexpr short rqs = 0x40, esb = 0x20, eav = 0x04;
constexpr unsigned request_kinds = sim | vxi11 | hislip;

// A sink that records each call (the name of the session as its apartment reaches it, the status byte, the thread)
// and fails it after `pause`; free-threaded, or called in its single-threaded apartment.
class recording_sink : public IMorvaneServiceRequestSink {
public:
    struct call {
        std::wstring name;
        short status_byte;
        DWORD thread;
    };
    explicit recording_sink(bool free_threaded, std::chrono::milliseconds pause = {}) : m_pause(pause)
    {
        if (free_threaded && FAILED(CoCreateFreeThreadedMarshaler(this, &m_marshaler)))
            throw std::runtime_error("no free-threaded marshaler");
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (m_marshaler && InlineIsEqualGUID(riid, IID_IMarshal))
            return m_marshaler->QueryInterface(riid, out);
        *out = InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, IID_IMorvaneServiceRequestSink)
                   ? static_cast<IMorvaneServiceRequestSink*>(this)
                   : nullptr;
        return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_count; }
    STDMETHODIMP_(ULONG) Release() override { return --m_count; }
    STDMETHODIMP ServiceRequest(IUnknown* session, short status_byte) override
    {
        ++m_entered;
        std::this_thread::sleep_for(m_pause);
        ComPtr<IMorvaneSession> own;
        unique_bstr name;
        if (session && SUCCEEDED(session->QueryInterface(IID_PPV_ARGS(&own))))
            own->get_ResourceName(name.put());
        const std::lock_guard guard(m_lock);
        m_calls.push_back({name ? std::wstring(bstr_view(name.get())) : L"", status_byte, GetCurrentThreadId()});
        return E_FAIL; // which must never reach the session
    }
    std::vector<call> calls()
    {
        const std::lock_guard guard(m_lock);
        return m_calls;
    }
    ULONG references() const { return m_count; }
    std::size_t entered() const { return m_entered; } // calls begun, ended or not

private:
    const std::chrono::milliseconds m_pause;
    std::atomic<ULONG> m_count{1};
    std::atomic<std::size_t> m_entered{0};
    ComPtr<IUnknown> m_marshaler;
    std::mutex m_lock;
    std::vector<call> m_calls;
};

// A session of a kind that carries service requests, and its requests.
struct requesting_session {
    ComPtr<IMessage> session;
    ComPtr<IMorvaneServiceRequests> requests;
    ComPtr<IConnectionPoint> point; // advise's
    requesting_session(const kinds& from, const std::wstring& name)
    {
        EXPECT_EQ(open(from.resources.Get(), name, 5000, session), L"open");
        EXPECT_EQ(session.As(&requests), S_OK);
    }
    // `sink` advised on the session's connection point, and requests enabled: the cookie.
    DWORD advise(IMorvaneServiceRequestSink* sink)
    {
        ComPtr<IConnectionPointContainer> points;
        DWORD cookie = 0;
        EXPECT_EQ(session.As(&points), S_OK);
        EXPECT_EQ(points->FindConnectionPoint(IID_IMorvaneServiceRequestSink, &point), S_OK);
        EXPECT_EQ(point->Advise(sink, &cookie) | requests->EnableServiceRequests(), S_OK);
        return cookie;
    }
    long wait(LONG timeout) { return wait_request(requests.Get(), timeout); }
    std::pair<LONG, LONG> queued_and_dropped()
    {
        LONG counts[2] = {-1, -1};
        EXPECT_EQ(requests->get_QueuedServiceRequests(&counts[0]) | requests->get_DroppedServiceRequests(&counts[1]),
                  S_OK);
        return {counts[0], counts[1]};
    }
};

// A request when the acquisition is done; one before the wait at once; the bound; disabled, a waiter fails.
TEST(ServiceRequests, TellWhenAnAcquisitionIsDoneKeepTheNewestAndStopWhenDisabled)
{
    EXPECT_EQ(run(shipped_file(L"..\\examples\\wait_for_sweep.exe"), L"SIM"), 0)
        << "the example that waits for a sweep";
    const kinds carrying(request_kinds);
    for (const auto& [name, source] : carrying.names) {
        SCOPED_TRACE(name);
        requesting_session s(carrying, name);
        bound_component instrument(s.session.Get());
        ASSERT_EQ(s.requests->EnableServiceRequests(), S_OK);
        EXPECT_EQ(s.requests->EnableServiceRequests(), S_OK) << "again";
        EXPECT_EQ(s.wait(200), session_timeout) << "none asked for";
        EXPECT_EQ(instrument.write(L"*CLS;*ESE 1;*SRE 32;ACQ:TIME 300;INIT;*OPC"), S_OK);
        EXPECT_EQ(taking(250ms, 5s, [&] { return s.wait(5000); }) & (rqs | esb), rqs | esb);
        short polled = -1;
        EXPECT_EQ(own(s.session.Get())->ReadStatusByte(&polled), S_OK);
        EXPECT_EQ(polled & rqs, 0) << "the request's own status read cleared RQS";
        EXPECT_EQ(instrument.query(L"*ESR?"), L"1\n"); // ESB off, for the next *OPC to request anew
        // The first of 71 requests with EAV (FOO's error, read after it), those after it without.
        EXPECT_EQ(instrument.query(L"FOO;*OPC;*ESR?"), L"33\n");
        EXPECT_EQ(instrument.query(L"SYST:ERR?"), L"-113,\"Undefined header\"\n");
        for (int i = 0; i < 70; ++i) // each *OPC sets ESB anew, each *ESR? clears it
            ASSERT_EQ(instrument.query(L"*OPC;*ESR?"), L"1\n") << i;
        // Over a network the session reads each request's status byte: they come in a while.
        eventually([&] { return s.queued_and_dropped() == std::pair(64L, 7L); });
        EXPECT_EQ(s.queued_and_dropped(), std::pair(64L, 7L));
        EXPECT_EQ(s.wait(0) & eav, 0) << "one that came before the wait, at once; the oldest dropped";
        EXPECT_EQ(s.requests->DiscardServiceRequests(), S_OK);
        EXPECT_EQ(s.queued_and_dropped(), std::pair(0L, 0L));
        long waited = 0;
        std::thread waiter([&] {
            const com_apartment com(COINIT_MULTITHREADED);
            waited = s.wait(10000);
        });
        std::this_thread::sleep_for(200ms);
        const auto disabling = clock::now();
        EXPECT_EQ(s.requests->DisableServiceRequests(), S_OK);
        waiter.join();
        EXPECT_LT(clock::now() - disabling, 2s);
        EXPECT_EQ(waited, static_cast<HRESULT>(0x80040033)) << "disabled";
    }
}

// Pumps the thread's messages until `done`, for `most` at most.
template<typename Done> void pump_until(Done done, std::chrono::milliseconds most = 5s)
{
    for (const auto until = clock::now() + most; !done() && clock::now() < until;) {
        for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Each sink called in its apartment, one that fails not keeping the next from hearing; released while a slow sink is
// in its call, the session waits for it and calls none after.
TEST(ServiceRequests, CallEachSinkInItsApartmentAndReleaseWhileARequestIsOnItsWay)
{
    const kinds carrying(request_kinds);
    for (const auto& [name, source] : carrying.names)
        for (const bool free_threaded : {true, false}) {
            SCOPED_TRACE(name + (free_threaded ? L", free-threaded" : L", single-threaded"));
            std::thread client([&] {
                const com_apartment com(free_threaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
                recording_sink sink(free_threaded), slow(true, 300ms);
                std::size_t begun = 0;
                {
                    requesting_session s(carrying, name);
                    const DWORD cookie = s.advise(&sink);
                    s.advise(&slow);
                    bound_component instrument(s.session.Get());
                    EXPECT_EQ(instrument.write(L"*ESE 1;*SRE 32;*OPC"), S_OK);
                    pump_until([&] { return !sink.calls().empty(); });
                    const auto calls = sink.calls();
                    ASSERT_EQ(calls.size(), 1u);
                    EXPECT_EQ((std::tuple{calls[0].name, calls[0].status_byte & (rqs | esb),
                                          calls[0].thread == GetCurrentThreadId()}),
                              std::tuple(name, rqs | esb, !free_threaded));
                    EXPECT_TRUE(eventually([&] { return slow.entered() > 0; })) << "after the sink that failed";
                    EXPECT_EQ((std::pair{s.point->Unadvise(cookie), s.point->Unadvise(cookie)}),
                              std::pair(S_OK, CONNECT_E_NOCONNECTION));
                    EXPECT_EQ(instrument.query(L"*ESR?;*OPC"), L"1\n");
                    pump_until([] { return false; }, 300ms);
                    EXPECT_EQ(sink.calls().size(), 1u) << "unadvised";
                    EXPECT_EQ(s.wait(5000) & rqs, rqs) << "queued all the same";
                    for (int i = 0; i < 3; ++i)
                        EXPECT_EQ(instrument.query(L"*ESR?;*OPC"), L"1\n");
                    const std::size_t earlier = slow.entered();
                    ASSERT_TRUE(eventually([&] { return slow.entered() > earlier; }));
                    begun = slow.entered(); // released as a call begins
                }
                EXPECT_EQ((std::tuple{sink.references(), slow.references(), slow.calls().size()}),
                          (std::tuple<ULONG, ULONG, std::size_t>(1, 1, begun)));
            });
            client.join();
        }
}

} // namespace
} // namespace morvane::testing
