// VXI-11 and HiSLIP beside the raw socket: the same instrument-sim served the three ways in this
// run, each through the session the resource manager would open, the component over it. Query round
// trips, 100 MiB of blocks (seven reads of a stored 16 MB trace, the simulator's largest), and
// uploads of that trace, which instrument-sim receives into records grown as the data come.
#include <winsock2.h>
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>
#include <wrl/client.h>
#include "hislip/hislip_session.hpp"
#include "instrument-sim/instrument_server_process.hpp"
#include "measure.hpp"
#include "network_instruments.hpp"
#include "platform/bstr.hpp"
#include "platform/variant.hpp"
#include "socket/socket_session.hpp"
#include "transport/winsock.hpp"
#include "vxi11/vxi11_session.hpp"

namespace {

using Microsoft::WRL::ComPtr;

constexpr std::size_t trace_points = 2'000'000; // REAL,64: 16 MB
constexpr int block_reads = 7;                  // 112 MB, over 100 MiB

struct figures {
    double trip, blocks, upload;
};

figures measure(IFormattedIO488* io, IMessage* session)
{
    check(io->putref_IO(session), "IO");
    const morvane::unique_bstr query = morvane::make_bstr(L"*IDN?");
    constexpr int trips = 300;
    figures result{};
    result.trip = median_seconds(5,
                                 [&] {
                                     for (int i = 0; i < trips; ++i) {
                                         morvane::unique_bstr answer;
                                         check(io->WriteString(query.get(), VARIANT_TRUE), "WriteString");
                                         check(io->ReadString(answer.put()), "ReadString");
                                     }
                                 }) /
                  trips;
    morvane::unique_variant trace;
    V_VT(trace.get()) = VT_ARRAY | VT_R8;
    V_ARRAY(trace.get()) = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(trace_points));
    check(io->WriteString(morvane::make_bstr(L"WAV:FORM REAL,64").get(), VARIANT_TRUE), "WriteString");
    const morvane::unique_bstr store = morvane::make_bstr(L"TRAC:DATA "), done = morvane::make_bstr(L"*OPC?");
    // A buffer of one maxRecvSize: over VXI-11 every Write is a round trip.
    check(io->SetBufferSize(BufferMask_Output, 1 << 20), "SetBufferSize");
    result.upload = median_seconds(3, [&] {
        check(io->WriteIEEEBlock(store.get(), *trace.get(), VARIANT_TRUE), "WriteIEEEBlock");
        morvane::unique_bstr answer; // stored once the instrument answers
        check(io->WriteString(done.get(), VARIANT_TRUE), "WriteString");
        check(io->ReadString(answer.put()), "ReadString");
    });
    check(io->SetBufferSize(BufferMask_Output, 1000), "SetBufferSize");
    const morvane::unique_bstr block_query = morvane::make_bstr(L"TRAC:DATA?");
    result.blocks = median_seconds(3, [&] {
        for (int i = 0; i < block_reads; ++i) {
            check(io->WriteString(block_query.get(), VARIANT_TRUE), "WriteString");
            morvane::unique_variant back;
            check(io->ReadIEEEBlock(NumberType_R8, VARIANT_FALSE, VARIANT_TRUE, back.get()), "ReadIEEEBlock");
        }
    });
    check(io->putref_IO(nullptr), "IO");
    return result;
}

} // namespace

network_instruments::network_instruments()
{
    check(morvane::vxi11::open_vxi11_session({"127.0.0.1", "inst0"}, L"", 10000, {lan.portmapper_port(), 0},
                                             &vxi11_session),
          "open_vxi11_session");
    check(morvane::hislip::open_hislip_session({"127.0.0.1", std::to_string(hislip.port()), "hislip0"}, L"", 10000,
                                               &hislip_session),
          "open_hislip_session");
}

void bench_network(IFormattedIO488* io)
{
    const morvane::transport::winsock_use winsock;
    const instrument_server_process raw(L"", L"--seconds 600");
    const network_instruments served;
    ComPtr<IMessage> socket;
    check(morvane::socket_session::open_socket_session({"127.0.0.1", std::to_string(raw.port())}, L"", 10000, &socket),
          "open_socket_session");
    const figures over_socket = measure(io, socket.Get());
    for (const auto& [name, session] :
         {std::pair("VXI-11", served.vxi11_session.Get()), std::pair("HiSLIP", served.hislip_session.Get())}) {
        const figures over = measure(io, session);
        const std::string beside = std::string(name) + " beside socket";
        std::printf("%-44s %10.0f /s %10.0f /s %7.2f\n", ("query round trips, " + beside).c_str(), 1 / over.trip,
                    1 / over_socket.trip, over.trip / over_socket.trip);
        line(("7 x TRAC:DATA? 16 MB, " + beside).c_str(), over.blocks, over_socket.blocks);
        line(("TRAC:DATA 16 MB up, " + beside).c_str(), over.upload, over_socket.upload);
    }
}
