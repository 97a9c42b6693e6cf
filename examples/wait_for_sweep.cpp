// wait_for_sweep: starts an acquisition and lets the instrument say when it is done, instead of
// polling *OPC? or the status byte. The instrument is told to request service when its standard
// event status register's operation-complete bit is set (*ESE 1: that bit sets ESB; *SRE 32:
// ESB requests service); *OPC sets the bit when the acquisition started by INIT ends.
//
//   wait_for_sweep [RESOURCE]     RESOURCE: SIM (the default), TCPIP::host::INSTR (VXI-11) or
//                                 TCPIP::host::hislip0::INSTR (HiSLIP)
//
// Both classes are created by program identifier: Morvane.dll and MorvaneSessions.dll must be
// registered (see docs/installing.md, "Registering by hand").
#include <windows.h>
#include <chrono>
#include <cstdio>
#include <visacom.h>
#include <morvane_sessions.h>
#include "com_client.hpp"

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* resource = argc > 1 ? argv[1] : L"SIM";
    try {
        com_apartment com;
        auto manager = create<IMorvaneResourceManager>(L"Morvane.ResourceManager");
        auto io = create<IFormattedIO488>(L"VISA.Tellurix");
        ComPtr<IMessage> session;
        check(manager->Open(bstr(resource).get(), 5000, &session), L"Open");
        check(io->putref_IO(session.Get()), L"putref_IO");

        // Every session offers service requests; one whose connection has none (a raw socket)
        // refuses to enable them.
        ComPtr<IMorvaneServiceRequests> requests;
        check(session.As(&requests), L"QueryInterface(IMorvaneServiceRequests)");
        check(requests->EnableServiceRequests(), L"EnableServiceRequests");

        const auto started = std::chrono::steady_clock::now();
        check(io->WriteString(bstr(L"*CLS;*ESE 1;*SRE 32;ACQ:TIME 500;INIT;*OPC").get(), VARIANT_TRUE), L"WriteString");
        short status = 0;
        check(requests->WaitForServiceRequest(10000, &status), L"WaitForServiceRequest");
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        std::printf("Done after %lld ms: status byte 0x%02X (%s%s)\n", static_cast<long long>(waited.count()),
                    static_cast<unsigned>(status), status & 0x40 ? "service request" : "no request",
                    status & 0x20 ? ", event status" : "");

        // Reading the event status register clears it, ready for the next sweep.
        check(io->WriteString(bstr(L"*ESR?").get(), VARIANT_TRUE), L"WriteString(*ESR?)");
        bstr events;
        check(io->ReadString(events.put()), L"ReadString");
        std::printf("Event status:   %ls", events.get() ? events.get() : L"\n");
        check(requests->DisableServiceRequests(), L"DisableServiceRequests");
        return 0;
    } catch (const com_failure& failure) {
        return report(failure);
    }
}
