// The resource manager through COM: names, discovery, properties, and the sessions of every kind it opens.
#include <cstring>
#include <functional>
#include "platform/com_apartment.hpp"
#include "platform/variant.hpp"
#include "sessions_client.hpp"
#include "transport/tcp_listener.hpp"

namespace morvane::testing {
namespace {

using transport::tcp_listener;

const std::wstring forms = L"SIM, TCPIP[board]::host::port::SOCKET, TCPIP[board]::host[::device name][::INSTR], "
                           L"TCPIP[board]::host::hislip0[,port][::INSTR], ASRL<n>[::INSTR]";
const std::wstring refused_form = L"\" is not of a supported form: " + forms + L".";

std::wstring manager_failure(HRESULT hr, const std::wstring& description)
{
    return error_line(hr, description, manager_source, L"", 0, IID_IMorvaneResourceManager);
}

TEST(ResourceManager, RefusesWhatItCannotOpenAndKeepsItsSettingsWithinRange)
{
    const auto resources = manager();
    ASSERT_TRUE(resources);
    const std::wstring_view names[] = {
        // clang-format off
        L"", L"SIM0", L" SIM", L"GPIB0::1::INSTR", L"TCPIP::127.0.0.1::SOCKET", L"TCPIP::127.0.0.1::0::SOCKET",
        L"TCPIP::127.0.0.1::65536::SOCKET", L"TCPIP::[::1::5025::SOCKET", L"TCPIP::::1]::5025::SOCKET",
        L"TCPIP::127.0.0.1::5025::SOCKET::", L"TCPIP::127.0.0.1::5025::SOCKETS", L"TCPIPx::127.0.0.1::5025::SOCKET",
        L"TCPIP::127.0.0.1::inst0::INSTR::", L"TCPIP::127.0.0.1::a::b::INSTR", L"TCPIP::::INSTR", L"TCPIP::h::INSTR::INSTR",
        L"TCPIP::127.0.0.1::in st0", L"TCPIP2x::127.0.0.1::INSTR", L"TCPIP", L"TCPIP::h::50x::SOCKET", L"TCPIP::a::b::5::SOCKET",
        // clang-format on
        std::wstring_view(L"SI\0M", 4),
    };
    for (const std::wstring_view name : names) {
        std::wstring shown(name);
        std::replace(shown.begin(), shown.end(), L'\0', L'?');
        ComPtr<IMessage> session;
        EXPECT_EQ(open(resources.Get(), name, 1000, session),
                  manager_failure(invalid_resource, L"The resource name \"" + shown + refused_form));
        EXPECT_FALSE(session);
    }
    ComPtr<IMessage> session;
    for (const LONG timeout : {0L, -1L, LONG_MIN})
        EXPECT_EQ(open(resources.Get(), L"SIM", timeout, session),
                  manager_failure(E_INVALIDARG, L"The timeout must be at least 1 ms."));
    EXPECT_EQ(resources->Open(make_bstr(L"SIM").get(), 1000, nullptr), E_POINTER);
    using manager = IMorvaneResourceManager;
    // clang-format off
    expect_settings<manager>(resources.Get(), {
        {&manager::get_PortmapperPort, &manager::put_PortmapperPort, 111, {1, 65535}, {0, 65536},
         L"The portmapper port must be from 1 to 65535."},
        {&manager::get_CorePort, &manager::put_CorePort, 0, {65535, 0}, {-1, 65536},
         L"The core port must be from 0 (ask the portmapper) to 65535."},
        {&manager::get_DiscoveryTimeout, &manager::put_DiscoveryTimeout, 1000, {1, LONG_MAX}, {0, LONG_MIN},
         L"The discovery timeout must be at least 1 ms."},
    }, manager_source);
    // clang-format on
    BSTR addresses = nullptr;
    EXPECT_EQ(resources->get_DiscoveryAddresses(&addresses), S_OK);
    EXPECT_EQ(std::wstring(bstr_view(unique_bstr(addresses).get())), L"");
    EXPECT_EQ(resources->put_DiscoveryAddresses(make_bstr(L"127.0.0.1,10.0.0.255").get()), S_OK);
    EXPECT_EQ(resources->get_DiscoveryAddresses(&addresses), S_OK);
    EXPECT_EQ(std::wstring(bstr_view(unique_bstr(addresses).get())), L"127.0.0.1,10.0.0.255");
    // What is not there fails within the timeout and half a second more, each form by its own kind of session.
    const unsigned short closed = tcp_listener().port(); // closed again at once
    ASSERT_EQ(resources->put_PortmapperPort(closed), S_OK);
    const std::pair<std::wstring, const wchar_t*> absent[] = {
        {L"TCPIP::127.0.0.1::" + std::to_wstring(closed) + L"::SOCKET", socket_source},
        {L"TCPIP::127.0.0.1::INSTR", L"[The portmapper cannot be asked: "},
        {L"tcpip0::127.0.0.1", L"[The portmapper cannot be asked: "},
        {L"Tcpip1::127.0.0.1::gpib0,5::instr", L"[The portmapper cannot be asked: "},
        {L"TCPIP::127.0.0.1::hislip0::INSTR", L"Morvane HiSLIP session"},
        {L"tcpip::127.0.0.1::HiSLIP1", L"Morvane HiSLIP session"},
        {L"TCPIP::127.0.0.1::hislip0,1::INSTR", L"Morvane HiSLIP session"},
        {L"ASRL249::INSTR", L"Could not open COM249"},
    };
    for (const auto& [name, reason] : absent) {
        SCOPED_TRACE(name);
        ComPtr<IMessage> session;
        const std::wstring refused = taking(0ms, 1500ms, [&] { return open(resources.Get(), name, 1000, session); });
        EXPECT_EQ(code_of(refused), std::to_wstring(resource_not_found));
        EXPECT_NE(refused.find(reason), std::wstring::npos) << refused;
    }
}

TEST(ResourceManager, FindsTheResourcesThatMatchAnExpression)
{
    const kinds lan(vxi11);
    const auto& resources = lan.resources;
    ASSERT_EQ(resources->put_DiscoveryAddresses(make_bstr(L" 127.0.0.1,").get()), S_OK);
    const std::wstring instrument = L"TCPIP::127.0.0.1::INSTR";
    const struct {
        std::wstring expression;
        std::vector<std::wstring> found;
    } cases[] = {
        {L"", {L"SIM", instrument}}, {L"s?m", {L"SIM"}}, {L"TCPIP?*", {instrument}}, {L"S.M", {}}, {L"?*SOCKET", {}},
    };
    // The names found; the machine's own serial ports are listed too, left out unless `serial`.
    const auto find = [&](const std::wstring& expression, bool serial = false) {
        SAFEARRAY* raw = nullptr;
        EXPECT_EQ(resources->FindResources(make_bstr(expression).get(), &raw), S_OK) << expression;
        const unique_safearray names(raw);
        VARTYPE type = VT_EMPTY;
        SafeArrayGetVartype(raw, &type);
        EXPECT_EQ(type, VT_BSTR);
        std::vector<std::wstring> found;
        for (ULONG i = 0; raw && i < raw->rgsabound[0].cElements; ++i)
            found.emplace_back(bstr_view(static_cast<BSTR*>(raw->pvData)[i]));
        std::erase_if(found, [&](const std::wstring& name) { return !serial && name.starts_with(L"ASRL"); });
        return found;
    };
    for (const auto& c : cases)
        EXPECT_EQ(find(c.expression), c.found) << c.expression;
    // Serial ports as the platform lists them: ASRL<n>::INSTR in the order of n, a serial pair's among them.
    const std::vector<std::wstring> ports = find(L"ASRL?*", true);
    EXPECT_TRUE(std::ranges::all_of(ports, [&](const std::wstring& name) {
        return name.starts_with(L"ASRL") && name.ends_with(L"::INSTR") && name.find(L"::") > 4;
    }));
    EXPECT_TRUE(std::ranges::is_sorted(ports, {}, [](const std::wstring& name) { return std::stoi(name.substr(4)); }));
    if (const auto pair = serial_pair()) {
        for (const unsigned port : {pair->first, pair->second})
            EXPECT_NE(std::ranges::find(ports, L"ASRL" + std::to_wstring(port) + L"::INSTR"), ports.end()) << port;
    }
    // An address where no portmapper answers is waited for no longer than DiscoveryTimeout.
    ASSERT_EQ(resources->put_PortmapperPort(tcp_listener().port()), S_OK); // closed again at once
    ASSERT_EQ(resources->put_DiscoveryTimeout(300), S_OK);
    EXPECT_EQ(taking(0ms, 600ms, [&] { return find(L"?*"); }), std::vector<std::wstring>{L"SIM"});
    // What the pattern refuses, told in the client's process without harm.
    const std::pair<std::wstring, std::wstring> refused[] = {
        {L"[SIM", L"The expression \"[SIM\" is not well formed."},
        {std::wstring(17000, L'('), L"The expression has 17000 characters; at most 1000 are taken."}};
    for (const auto& [expression, description] : refused) {
        SAFEARRAY* raw = nullptr;
        EXPECT_EQ(outcome(resources->FindResources(make_bstr(expression).get(), &raw)),
                  manager_failure(E_INVALIDARG, description));
        EXPECT_FALSE(raw);
    }
    BSTR forms = nullptr;
    ASSERT_EQ(resources->get_ResourceForms(&forms), S_OK);
    EXPECT_EQ(std::wstring(bstr_view(unique_bstr(forms).get())), testing::forms);
}

// What every kind of session offers beside IMessage, and the component's traffic through it, bounded.
TEST(Sessions, NameThemselvesCarryTheComponentsTrafficAndBoundTheirMessages)
{
    const kinds every;
    for (const auto& [name, source] : every.names) {
        SCOPED_TRACE(name);
        const bool simulated = name == L"sim", locks = name.starts_with(L"tcpip") && name.ends_with(L"::instr");
        ComPtr<IMessage> session;
        ASSERT_EQ(open(every.resources.Get(), name, 12345, session), L"open");
        const auto extra = own(session.Get());
        ComPtr<ISupportErrorInfo> errors;
        ComPtr<IMorvaneLocking> locking; // VXI-11 and HiSLIP
        ASSERT_EQ(session.As(&errors), S_OK);
        EXPECT_EQ(session.As(&locking), locks ? S_OK : E_NOINTERFACE);
        // clang-format off
        for (const auto& [interface_id, answer] : {std::pair{IID_IMessage, S_OK}, {IID_IMorvaneSession, S_OK},
                 {IID_IMorvaneSessionLimits, S_OK}, {IID_IMorvaneServiceRequests, S_OK}, {IID_IFormattedIO488, S_FALSE},
                 {IID_IMorvaneLocking, locks ? S_OK : S_FALSE}})
            EXPECT_EQ(errors->InterfaceSupportsErrorInfo(interface_id), answer);
        // clang-format on
        // A wait while disabled fails; enabling is refused where the connection has no channel for requests.
        ComPtr<IMorvaneServiceRequests> requests;
        ASSERT_EQ(session.As(&requests), S_OK);
        EXPECT_EQ(outcome(wait_request(requests.Get(), 60000)),
                  error_line(0x80040033, L"Service requests are not enabled on this session.", source, L"", 0,
                             IID_IMorvaneServiceRequests));
        const HRESULT enabled = requests->EnableServiceRequests();
        const bool carries_requests = simulated || name.starts_with(L"tcpip::127.0.0.1::"); // VXI-11, HiSLIP
        EXPECT_EQ(enabled, carries_requests ? S_OK : static_cast<HRESULT>(0x80040026)) << outcome(enabled);
        ComPtr<IConnectionPoint> point;
        ComPtr<IConnectionPointContainer> container, points;
        ASSERT_EQ(session.As(&points), S_OK);
        EXPECT_EQ(points->FindConnectionPoint(IID_IMorvaneSession, &point), CONNECT_E_NOCONNECTION);
        ASSERT_EQ(points->FindConnectionPoint(IID_IMorvaneServiceRequestSink, &point), S_OK);
        EXPECT_EQ(point->GetConnectionPointContainer(&container), S_OK);
        EXPECT_EQ(container.Get(), points.Get());
        DWORD cookie = 0;
        EXPECT_EQ((std::pair{point->Advise(session.Get(), &cookie), point->Advise(nullptr, &cookie)}),
                  std::pair(CONNECT_E_CANNOTCONNECT, E_POINTER))
            << "no sink";
        unique_bstr resource;
        LONG timeout = 0;
        BYTE termination = 0;
        EXPECT_EQ(extra->get_ResourceName(resource.put()) | session->get_Timeout(&timeout) |
                      extra->get_TerminationCharacter(&termination),
                  S_OK);
        EXPECT_EQ(std::tuple(std::wstring(bstr_view(resource.get())), timeout, termination),
                  std::tuple(name, 12345L, BYTE{'\n'}));

        bound_component instrument(session.Get());
        const auto status = [&] {
            short byte = -1;
            EXPECT_EQ(extra->ReadStatusByte(&byte), S_OK);
            return byte;
        };
        EXPECT_EQ(instrument.write(L"*CLS"), S_OK);
        EXPECT_EQ(status(), 0);
        EXPECT_EQ(instrument.write(L"NO:SUCH:COMMAND"), S_OK);
        EXPECT_EQ(status(), 4) << "an error is queued";
        EXPECT_EQ(instrument.query(L"SYST:ERR?"), L"-113,\"Undefined header\"\n");
        // An answer left unread is dropped by a clear: the next read finds only the next answer.
        EXPECT_EQ(instrument.write(L"*IDN?"), S_OK);
        if (simulated)
            EXPECT_EQ(status(), 16) << "a response waits";
        else
            std::this_thread::sleep_for(300ms); // the answer arrives before the clear
        EXPECT_EQ(extra->Clear(), S_OK);
        EXPECT_EQ(instrument.query(L"*OPC?"), L"1\n");
        EXPECT_EQ(instrument.query(L"SYST:ERR?"), L"0,\"No error\"\n") << "a dropped answer interrupts nothing";
        EXPECT_EQ(extra->AssertTrigger() | extra->AssertTrigger(), S_OK);
        EXPECT_EQ(instrument.query(L"TRIG:COUN?"), L"2\n");
        // Another termination character ends reads there.
        EXPECT_EQ(session->put_TerminationCharacterEnabled(VARIANT_TRUE) | extra->put_TerminationCharacter(','), S_OK);
        EXPECT_EQ(instrument.query(L"DATA:LIST 1,2,3;LIST?"), L"1,");
        EXPECT_EQ(instrument.read(), L"2,");
        EXPECT_EQ(extra->put_TerminationCharacter('\n'), S_OK);
        EXPECT_EQ(instrument.read(), L"3\n");
        // The component's traffic, from a known state.
        EXPECT_EQ(instrument.query(L"*RST;*IDN?"), L"Morvane,SIM-1,0,1.0\n");
        // 2 MiB up as a block and back; over VXI-11 in pieces of the device's maxRecvSize (1 MiB).
        unique_variant upload;
        V_VT(upload.get()) = VT_ARRAY | VT_R8;
        V_ARRAY(upload.get()) = SafeArrayCreateVector(VT_R8, 0, 1u << 18);
        auto* const trace = static_cast<double*>(V_ARRAY(upload.get())->pvData);
        for (std::size_t i = 0; i < 1u << 18; ++i)
            trace[i] = static_cast<double>(i % 1000) * 0.25 - static_cast<double>(i % 7);
        ASSERT_EQ(instrument.write(L"WAV:FORM REAL,64"), S_OK);
        unique_variant download;
        ASSERT_EQ(instrument.io->WriteIEEEBlock(make_bstr(L"TRAC:DATA").get(), *upload, VARIANT_TRUE), S_OK);
        ASSERT_EQ(instrument.write(L"TRAC:DATA?"), S_OK);
        ASSERT_EQ(instrument.io->ReadIEEEBlock(NumberType_R8, VARIANT_FALSE, VARIANT_TRUE, download.get()), S_OK);
        ASSERT_EQ(V_ARRAY(download.get())->rgsabound[0].cElements, 1u << 18);
        EXPECT_EQ(std::memcmp(V_ARRAY(download.get())->pvData, trace, sizeof(double) << 18), 0);
        EXPECT_EQ(instrument.query(L"SYST:ERR?"), L"0,\"No error\"\n");
        if (!locks) { // over VXI-11 and HiSLIP next
            // An answer held until an acquisition ends comes when it ends.
            EXPECT_EQ(taking(250ms, 1500ms, [&] { return instrument.query(L"ACQ:TIME 300;INIT;*OPC?"); }), L"1\n");
        }
        // An answer of MaximumMessageSize passes, a longer one fails, and the next query finds nothing of it left.
        ComPtr<IMorvaneSessionLimits> limits;
        ASSERT_EQ(session.As(&limits), S_OK);
        using limit = IMorvaneSessionLimits;
        // clang-format off
        expect_settings<limit>(limits.Get(), {{&limit::get_MaximumMessageSize, &limit::put_MaximumMessageSize,
            256 << 20, {6}, {0, -1, LONG_MIN}, L"MaximumMessageSize must be at least 1 byte."}}, source);
        // clang-format on
        LONG written = 0;
        const std::pair<std::function<HRESULT()>, IID> null_calls[] = {
            {[&] { return session->Read(1, nullptr); }, IID_IMessage},
            {[&] { return session->ReadString(1, nullptr); }, IID_IMessage},
            {[&] { return session->Write(nullptr, 1, &written); }, IID_IMessage},
            {[&] { return extra->ReadStatusByte(nullptr); }, IID_IMorvaneSession},
            {[&] { return limits->get_MaximumMessageSize(nullptr); }, IID_IMorvaneSessionLimits}};
        for (const auto& [call, interface_id] : null_calls)
            EXPECT_EQ(outcome(call()),
                      error_line(E_POINTER, L"A required pointer is null.", source, L"", 0, interface_id));
        for (const LONG limit : {6, 5, 2}) { // the answer "1,2,3\n" has 6 bytes, "1\n" 2
            EXPECT_EQ(limits->put_MaximumMessageSize(limit), S_OK);
            // clang-format off
            EXPECT_EQ(instrument.query(L"DATA:LIST 1,2,3;LIST?"), limit >= 6 ? L"1,2,3\n" : error_line(message_too_long,
                      L"The message passed MaximumMessageSize (" + std::to_wstring(limit) +
                      L" bytes); the rest of it is discarded.", source, L"", 0, IID_IMessage));
            // clang-format on
            EXPECT_EQ(instrument.query(L"*OPC?"), L"1\n");
        }
        EXPECT_EQ(limits->put_MaximumMessageSize(1), S_OK);
        EXPECT_GE(status(), 0) << "the status byte is no message of the client's";
        EXPECT_EQ(limits->put_MaximumMessageSize(100), S_OK);
        EXPECT_EQ(instrument.query(L"SYST:ERR?"), L"0,\"No error\"\n");
        // A read with nothing to read fails within its timeout and half a second more.
        EXPECT_EQ(session->put_Timeout(300), S_OK);
        EXPECT_EQ(code_of(taking(290ms, 800ms, [&] { return instrument.read(); })), std::to_wstring(session_timeout));
    }
}

TEST(Sessions, OpensAndReleasesLeaveNothingOpen)
{
    const tcp_listener listener("127.0.0.1", 0, 100); // its backlog holds every connection until the end
    {
        const auto resources = manager();
        for (const std::wstring& name :
             {std::wstring(L"SIM"), L"TCPIP::127.0.0.1::" + std::to_wstring(listener.port()) + L"::SOCKET"})
            for (int i = 0; i < 100; ++i) {
                ComPtr<IMessage> session;
                ASSERT_EQ(open(resources.Get(), name, 2000, session), L"open") << i;
            }
    }
    std::size_t closed = 0; // by their client
    for (int i = 0; i < 100; ++i) {
        const auto connection = listener.accept(1s);
        char byte = 0;
        closed += connection && recv(connection.get(), &byte, 1, 0) == 0;
    }
    EXPECT_EQ(closed, 100u);
    const auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"MorvaneSessions.dll"), "DllCanUnloadNow")));
    ASSERT_TRUE(can_unload);
    EXPECT_EQ(can_unload(), S_OK);
    ComPtr<IMessage> session;
    ASSERT_EQ(open(manager().Get(), L"SIM", 100, session), L"open");
    EXPECT_EQ(can_unload(), S_FALSE) << "a live session keeps the module";
    session.Reset();
    EXPECT_EQ(can_unload(), S_OK);
}

// Raw sockets: LF ends an indefinite block, pieces join, a dropped connection gives what came, IPv6.
TEST(Sessions, OverRawSocketsTakeWhatServersDo)
{
    const auto resources = manager();
    const struct {
        const wchar_t* options;
        std::vector<std::pair<const wchar_t*, std::wstring>> queries; // answers up to a blank
    } rows[] = {
        {L"", {{L"WAV:FORM BYTE;TRAC:DATA #0AB\nTRAC:DATA?", L"#12AB\n"}, {L"SYST:ERR?", L"0,\"No"}}},
        {L"--segment 1", {{L"*IDN?", L"Morvane,SIM-1,0,1.0\n"}, {L"*OPC?", L"1\n"}}},
        {L"--drop-after 10", {{L"MEAS:ARR? 100", L"+1.2494502"}, {L"*IDN?", std::to_wstring(connection_lost)}}},
        {L"--address ::1", {{L"*IDN?", L"Morvane,SIM-1,0,1.0\n"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options);
        const instrument_server_process server(L"..\\..\\bin\\", L"--seconds 60 " + std::wstring(row.options));
        const bool ipv6 = std::wstring_view(row.options).ends_with(L"::1");
        if (ipv6 && server.port() == 0)
            GTEST_SKIP() << "no IPv6 loopback here";
        const std::wstring name = std::wstring(ipv6 ? L"TCPIP::[::1]::" : L"TCPIP::127.0.0.1::") +
                                  std::to_wstring(server.port()) + L"::SOCKET";
        ComPtr<IMessage> session;
        ASSERT_EQ(open(resources.Get(), name, 5000, session), L"open");
        bound_component instrument(session.Get());
        for (const auto& [command, answer] : row.queries)
            EXPECT_EQ(code_of(instrument.query(command)), answer);
    }
}

// A write made while another thread's read waits for a late answer goes in only after that read.
TEST(Sessions, ACallWaitsForTheCallInProgress)
{
    const kinds late(socket | vxi11 | hislip, L"--delay 600");
    for (const auto& [name, source] : late.names) {
        SCOPED_TRACE(name);
        ComPtr<IMessage> session;
        ASSERT_EQ(open(late.resources.Get(), name, 3000, session), L"open");
        bound_component instrument(session.Get());
        ASSERT_EQ(instrument.write(L"*IDN?"), S_OK);
        std::thread reader([&] {
            const com_apartment com(COINIT_MULTITHREADED);
            EXPECT_EQ(instrument.read(), L"Morvane,SIM-1,0,1.0\n");
        });
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(taking(250ms, 3s, [&] { return write_bytes(session.Get(), "*OPC?\n"); }), S_OK);
        reader.join();
        EXPECT_EQ(instrument.read(), L"1\n");
    }
}

} // namespace
} // namespace morvane::testing
