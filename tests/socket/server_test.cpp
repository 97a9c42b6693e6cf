// The component over TCP against instrument-sim, which each test starts on a port of its
// choosing and stops again.
#include <gtest/gtest.h>
#include <thread>
#include "instrument-sim/instrument_server_process.hpp"
#include "platform/com_apartment.hpp"
#include "socket/socket_session.hpp"
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using namespace socket_session;
using Microsoft::WRL::ComPtr;

// instrument-sim from the build's bin folder, beside this test's folder.
class server_process : public instrument_server_process {
public:
    explicit server_process(const std::wstring& options, const wchar_t* address = L"127.0.0.1")
        : instrument_server_process(L"..\\bin\\", L"--seconds 60 --address " + std::wstring(address) + L" " + options)
    {}
    bool listening() const { return port() != 0; }
    socket_address address(const char* host = "127.0.0.1") const { return {host, std::to_string(port())}; }
};

struct connected {
    ComPtr<IMessage> session;
    ComPtr<IFormattedIO488> io = make_fmtdio();

    explicit connected(const socket_address& address, LONG timeout = 5000)
    {
        EXPECT_EQ(outcome(open_socket_session(address, L"", timeout, &session)), L"0 without a record");
        if (session) {
            EXPECT_EQ(io->putref_IO(session.Get()), S_OK);
        }
    }
    HRESULT write(const wchar_t* command) { return io->WriteString(bstr(command).get(), VARIANT_TRUE); }
    std::wstring query(const wchar_t* command)
    {
        BSTR text = nullptr;
        HRESULT hr = write(command);
        if (SUCCEEDED(hr))
            hr = io->ReadString(&text);
        const unique_bstr owned(text);
        return SUCCEEDED(hr) ? std::wstring(bstr_view(text)) : outcome(hr);
    }
    std::vector<double> read_list(const wchar_t* command)
    {
        unique_variant list;
        EXPECT_EQ(write(command), S_OK);
        EXPECT_EQ(outcome(io->ReadList(NumberType_R8, nullptr, list.get())), L"0 without a record");
        if (V_VT(list.get()) != (VT_ARRAY | VT_R8))
            return {};
        const auto* values = static_cast<const double*>(V_ARRAY(list.get())->pvData);
        return {values, values + V_ARRAY(list.get())->rgsabound[0].cElements};
    }
};

class OverTcp : public ::testing::Test {
protected:
    void SetUp() override { clear_thread_error(); }
};

// A 10 MiB trace goes up as a block and comes back the same; four objects on four connections
// keep their own data.
TEST_F(OverTcp, BlocksLinesAndConnectionsAtOnce)
{
    server_process server(L"");
    ASSERT_TRUE(server.listening());
    connected link(server.address());
    std::vector<double> trace(10u << 17); // 10 MiB of doubles
    for (std::size_t i = 0; i < trace.size(); ++i)
        trace[i] = static_cast<double>(i % 1000) * 0.25 - static_cast<double>(i % 7);
    SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(trace.size()));
    std::memcpy(array->pvData, trace.data(), trace.size() * sizeof(double));
    unique_variant upload, download;
    V_VT(upload.get()) = VT_ARRAY | VT_R8;
    V_ARRAY(upload.get()) = array;
    ASSERT_EQ(link.write(L"WAV:FORM REAL,64"), S_OK);
    ASSERT_EQ(link.io->WriteIEEEBlock(bstr(L"TRAC:DATA").get(), *upload, VARIANT_TRUE), S_OK);
    ASSERT_EQ(link.write(L"TRAC:DATA?"), S_OK);
    ASSERT_EQ(outcome(link.io->ReadIEEEBlock(NumberType_R8, VARIANT_FALSE, VARIANT_TRUE, download.get())),
              L"0 without a record");
    const SAFEARRAY* back = V_ARRAY(download.get());
    ASSERT_EQ(back->rgsabound[0].cElements, trace.size());
    EXPECT_EQ(std::memcmp(back->pvData, trace.data(), trace.size() * sizeof(double)), 0);
    EXPECT_EQ(link.query(L"SYST:ERR?"), L"0,\"No error\"\n");
    // Without END, a line feed ends an indefinite block too.
    EXPECT_EQ(link.query(L"WAV:FORM BYTE;TRAC:DATA #0AB\nTRAC:DATA?"), L"#12AB\n");

    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, -1);
    for (int tag = 0; tag < 4; ++tag)
        threads.emplace_back([&, tag] {
            const com_apartment com(COINIT_MULTITHREADED);
            connected own(server.address());
            mismatches[tag] = 0;
            for (int round = 0; round < 20; ++round) {
                const std::wstring values = std::to_wstring(tag) + L"," + std::to_wstring(round) + L",7";
                own.write((L"DATA:LIST " + values).c_str());
                if (own.read_list(L"DATA:LIST?") != std::vector<double>{double(tag), double(round), 7})
                    ++mismatches[tag];
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// instrument-sim's faults as the component meets them: responses in one-byte pieces read
// whole; a late answer times out; a connection dropped in the middle of a response gives
// what arrived, and every call after it fails.
TEST_F(OverTcp, FaultyServers)
{
    const struct {
        const wchar_t* options;
        LONG timeout;
        std::vector<std::pair<const wchar_t*, std::wstring>> queries; // answers up to a blank
    } rows[] = {
        {L"--segment 1", 5000, {{L"*IDN?", L"Morvane,SIM-1,0,1.0\n"}, {L"*OPC?", L"1\n"}}},
        {L"--delay 3000", 500, {{L"*IDN?", std::to_wstring(session_timeout)}}},
        {L"--drop-after 10", 5000, {{L"MEAS:ARR? 100", L"+1.2494502"}, {L"*IDN?", std::to_wstring(connection_lost)}}},
    };
    for (const auto& row : rows) {
        server_process server(row.options);
        ASSERT_TRUE(server.listening());
        connected link(server.address(), row.timeout);
        for (const auto& [command, answer] : row.queries) {
            const std::wstring got = link.query(command);
            EXPECT_EQ(got.substr(0, got.find(L' ')), answer) << row.options;
        }
    }
}

TEST_F(OverTcp, Ipv6Loopback)
{
    server_process server(L"", L"::1");
    if (!server.listening())
        GTEST_SKIP() << "no IPv6 loopback here";
    connected link(server.address("::1"));
    EXPECT_EQ(link.query(L"*IDN?"), L"Morvane,SIM-1,0,1.0\n");
}

} // namespace
} // namespace morvane::testing
