// Service requests beside polling, over the simulated instrument, VXI-11 and HiSLIP: what a client
// pays to learn of a request that the instrument raises at once (*OPC with nothing under way), by
// WaitForServiceRequest or by a sink, against one poll of the status byte that finds it, the least
// that polling can cost; a sink, called on another thread, beside that poll and a bare wake of
// another thread and back. Each round clears ESB again with *ESR?, in every way alike.
#include <winsock2.h>
#include <windows.h>
#include <ocidl.h>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <morvane_sessions.h>
#include <wrl/client.h>
#include "measure.hpp"
#include "network_instruments.hpp"
#include "platform/bstr.hpp"
#include "platform/unique_any.hpp"
#include "sim/simulated_session.hpp"
#include "sim/status_registers.hpp"
#include "transport/winsock.hpp"

namespace {

using Microsoft::WRL::ComPtr;
using unique_event = morvane::unique_any<HANDLE, &CloseHandle>;

constexpr short requested = morvane::sim::status_bit::service_request | morvane::sim::status_bit::event_summary;

// A free-threaded sink, as one in the multithreaded apartment: called on the session's worker thread,
// it wakes the client.
class waking_sink : public IMorvaneServiceRequestSink {
public:
    unique_event called{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    ComPtr<IUnknown> marshaler;
    waking_sink() { check(CoCreateFreeThreadedMarshaler(this, &marshaler), "CoCreateFreeThreadedMarshaler"); }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (InlineIsEqualGUID(riid, IID_IMarshal))
            return marshaler->QueryInterface(riid, out);
        *out = InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, IID_IMorvaneServiceRequestSink)
                   ? static_cast<IMorvaneServiceRequestSink*>(this)
                   : nullptr;
        return *out ? S_OK : E_NOINTERFACE; // lives on the stack: no count to keep
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP ServiceRequest(IUnknown*, short) override { return SetEvent(called.get()) ? S_OK : E_FAIL; }
};

// Seconds for the bare platform work of waking another thread and being woken by it.
double thread_wake()
{
    constexpr int rounds = 200;
    const unique_event go(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    std::atomic<bool> done = false;
    std::thread other([&] {
        while (WaitForSingleObject(go.get(), INFINITE) == WAIT_OBJECT_0 && !done)
            SetEvent(back.get());
    });
    const double seconds = median_seconds(5, [&] {
        for (int i = 0; i < rounds; ++i)
            SetEvent(go.get()), WaitForSingleObject(back.get(), INFINITE);
    });
    done = true;
    SetEvent(go.get());
    other.join();
    return seconds / rounds;
}

// Seconds a round: *OPC written, the request learnt of by `learn`, *ESR? written and read.
template<typename Learn> double per_round(IFormattedIO488* io, Learn&& learn)
{
    constexpr int rounds = 200;
    const morvane::unique_bstr opc = morvane::make_bstr(L"*OPC"), esr = morvane::make_bstr(L"*ESR?");
    return median_seconds(5,
                          [&] {
                              for (int i = 0; i < rounds; ++i) {
                                  check(io->WriteString(opc.get(), VARIANT_TRUE), "WriteString");
                                  learn();
                                  morvane::unique_bstr answer;
                                  check(io->WriteString(esr.get(), VARIANT_TRUE), "WriteString");
                                  check(io->ReadString(answer.put()), "ReadString");
                              }
                          }) /
           rounds;
}

void measure(IFormattedIO488* io, const char* kind, IMessage* session, double wake)
{
    check(io->putref_IO(session), "IO");
    check(io->WriteString(morvane::make_bstr(L"*CLS;*ESE 1;*SRE 32").get(), VARIANT_TRUE), "WriteString");
    ComPtr<IMorvaneSession> own;
    ComPtr<IMorvaneServiceRequests> requests;
    check(session->QueryInterface(IID_PPV_ARGS(&own)), "QueryInterface");
    check(session->QueryInterface(IID_PPV_ARGS(&requests)), "QueryInterface");
    const double polled = per_round(io, [&] {
        short status = 0;
        check(own->ReadStatusByte(&status), "ReadStatusByte");
        check((status & requested) == requested ? S_OK : E_FAIL, "a poll that finds the request");
    });
    check(requests->EnableServiceRequests(), "EnableServiceRequests");
    const double waited = per_round(io, [&] {
        short status = 0;
        check(requests->WaitForServiceRequest(5000, &status), "WaitForServiceRequest");
    });
    // With the sink, the queue fills and drops its oldest, which no one waits for.
    waking_sink sink;
    ComPtr<IConnectionPointContainer> points;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    check(session->QueryInterface(IID_PPV_ARGS(&points)), "QueryInterface");
    check(points->FindConnectionPoint(IID_IMorvaneServiceRequestSink, &point), "FindConnectionPoint");
    check(point->Advise(&sink, &cookie), "Advise");
    const double sunk = per_round(io, [&] {
        check(WaitForSingleObject(sink.called.get(), 5000) == WAIT_OBJECT_0 ? S_OK : E_FAIL, "the sink's call");
    });
    check(point->Unadvise(cookie), "Unadvise");
    check(requests->DisableServiceRequests(), "DisableServiceRequests");
    check(io->putref_IO(nullptr), "IO");
    const auto print = [&](const char* how, double seconds, double bare) {
        std::printf("%-44s %10.1f us %10.1f us %7.2f\n", (kind + std::string(how)).c_str(), seconds * 1e6, bare * 1e6,
                    seconds / bare);
    };
    print(": request waited, beside a poll", waited, polled);
    print(": sink called, beside poll and wake", sunk, polled + wake);
}

} // namespace

void bench_service_requests(IFormattedIO488* io)
{
    const morvane::transport::winsock_use winsock;
    const network_instruments served;
    const double wake = thread_wake();
    measure(io, "SIM", morvane::sim::create_simulated_session().Get(), wake);
    measure(io, "VXI-11", served.vxi11_session.Get(), wake);
    measure(io, "HiSLIP", served.hislip_session.Get(), wake);
}
