// The VXI-11 session's interrupt channel against devices that the test plays beside a scripted core.
#include <windows.h>
#include <psapi.h>
#include "scripted_core.hpp"
#include "sessions_client.hpp"
#include "support/process_threads.hpp"
#include "transport/tcp_connection.hpp"

namespace morvane::testing {
namespace {

using transport::tcp_connection;
using bytes = std::vector<unsigned char>;
using procedures = std::vector<std::uint32_t>;

constexpr std::uint32_t readstb = 13, enable_srq = 20, create_intr_chan = 25, destroy_intr_chan = 26;

std::pair<std::size_t, std::size_t> threads_and_memory()
{
    PROCESS_MEMORY_COUNTERS_EX memory{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    return {threads_of_this_process(), memory.PrivateUsage};
}

// One device_intr_srq call record (or another procedure's, or program's).
bytes srq_call(const std::string& handle, std::uint32_t program = 0x0607B1, std::uint32_t procedure = 30)
{
    oncrpc::xdr_writer out;
    oncrpc::put_call(out, {7, 2, program, 1, procedure});
    out.put_string(handle);
    const auto record = out.record();
    return {record.begin(), record.end()};
}

// A session with service requests enabled over a scripted core, and where it listens.
struct enabled_session {
    scripted_core core;
    ComPtr<IMessage> session;
    ComPtr<IMorvaneServiceRequests> requests;
    std::string port, handle;
    enabled_session()
    {
        EXPECT_EQ(open(manager(core.port()).Get(), L"TCPIP::127.0.0.1::INSTR", 1000, session), L"open");
        EXPECT_EQ(session.As(&requests), S_OK);
        EXPECT_EQ(requests->EnableServiceRequests(), S_OK);
        learn();
    }
    // The channel and the handle that the device was told of last.
    void learn()
    {
        handle.clear();
        for (const auto& call : core.calls()) {
            if (call.procedure == create_intr_chan) { // the core channel's local address, the channel's port
                EXPECT_EQ(call.fields, (procedures{0x7F000001, call.fields.at(1), 0x0607B1, 1, 0}));
                port = std::to_string(call.fields.at(1));
            }
            if (call.procedure == enable_srq && call.fields == procedures{7, 1})
                handle = call.data;
        }
        EXPECT_FALSE(handle.empty());
    }
    auto connect() { return std::make_unique<tcp_connection>("127.0.0.1", port, clock::now() + 2s); }
    std::size_t status_reads() { return static_cast<std::size_t>(std::ranges::count(core.procedures(), readstb)); }
    long wait(LONG timeout) { return wait_request(requests.Get(), timeout); }
};

void send(tcp_connection& device, const bytes& data) { device.send_all(data.data(), data.size(), clock::now() + 10s); }

// Whether the session closed the connection within `wait`.
bool closed(tcp_connection& device, std::chrono::milliseconds wait)
{
    bytes got;
    try {
        device.receive(got, clock::now() + wait);
    } catch (const transport::tcp_failure& failure) {
        return failure.kind == transport::tcp_failure::lost;
    }
    return false; // the session sent something: it never should
}

// Bad calls bring no request (closed where the stream is lost); a flood stays within 64 requests and memory.
TEST(Vxi11Interrupts, IgnoreWhatIsNotTheirCallAndStayBoundedWhateverTheDeviceSends)
{
    const struct {
        const char* device;
        bytes (*sends)(const std::string& handle);
        bool closes;
    } cases[] = {
        // clang-format off
        {"another handle", [](const std::string& h) { return srq_call(h + "x"); }, false},
        {"a shorter handle", [](const std::string& h) { return srq_call(h.substr(1)); }, false},
        {"another program", [](const std::string& h) { return srq_call(h, 0x0607AF); }, false},
        {"another procedure", [](const std::string& h) { return srq_call(h, 0x0607B1, 0); }, false},
        {"a handle past 40 bytes", [](const std::string& h) { return srq_call(h + std::string(40, 'x')); }, true},
        {"no call at all", [](const std::string&) { return bytes{0x80, 0, 0, 4, 1, 2, 3, 4}; }, true},
        {"a record past 1 KiB", [](const std::string& h) { return srq_call(h + std::string(1100, 'x'), 0x0607B1, 0); }, true},
        {"a mark claiming 2 GiB", [](const std::string&) { return bytes{0xFF, 0xFF, 0xFF, 0xFF}; }, true},
        // clang-format on
    };
    enabled_session s;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        auto device = s.connect();
        send(*device, c.sends(s.handle));
        EXPECT_EQ(closed(*device, 300ms), c.closes);
        EXPECT_EQ(s.status_reads(), 0u);
        EXPECT_EQ(s.wait(0), session_timeout);
    }
    const auto [threads, memory] = threads_and_memory();

    std::vector<std::unique_ptr<tcp_connection>> silent;
    for (int i = 0; i < 4; ++i)
        silent.push_back(s.connect());
    auto device = s.connect();
    EXPECT_TRUE(closed(*silent.front(), 500ms)) << "the oldest makes room";
    EXPECT_FALSE(closed(*silent.back(), 100ms));
    send(*device, srq_call(s.handle));
    EXPECT_EQ(s.wait(2000), 0x42);

    const auto one = srq_call(s.handle);
    bytes flood;
    for (int i = 0; i < 100000; ++i)
        flood.insert(flood.end(), one.begin(), one.end());
    const auto started = clock::now();
    send(*device, flood);
    flood = {};
    // The reads that the flood left (a few hundred) end soon: one for each call would take minutes.
    for (std::size_t reads = 0; reads != s.status_reads() && clock::now() - started < 10s;) {
        reads = s.status_reads();
        std::this_thread::sleep_for(300ms);
    }
    EXPECT_LT(s.status_reads(), 5000u);
    LONG queued = -1;
    EXPECT_EQ(s.requests->get_QueuedServiceRequests(&queued), S_OK);
    EXPECT_TRUE(queued >= 1 && queued <= 64) << queued;
    const auto [threads_after, memory_after] = threads_and_memory();
    EXPECT_TRUE(threads_after <= threads + 1 && memory_after < memory + (16 << 20))
        << threads << " threads, " << memory << " bytes before; after: " << threads_after << ", " << memory_after;
    EXPECT_EQ(s.requests->DiscardServiceRequests(), S_OK);
    const std::size_t reads = s.status_reads();
    send(*device, srq_call(s.handle));
    EXPECT_EQ(s.wait(2000), 0x42);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(s.status_reads(), reads + 1) << "one call, one read";
}

// Disabled or released, the device is told and the channel closes; none over IPv6.
TEST(Vxi11Interrupts, TellTheDeviceAndStopListeningWhenDisabledOrReleased)
{
    auto s = std::make_unique<enabled_session>();
    ASSERT_EQ(s->requests->DisableServiceRequests(), S_OK);
    EXPECT_EQ(s->core.calls().at(3).fields, (procedures{7, 0}));
    EXPECT_THROW(s->connect(), transport::tcp_failure) << "no longer listening";
    ASSERT_EQ(s->requests->EnableServiceRequests(), S_OK);
    s->learn();
    s->session.Reset();
    s->requests.Reset();
    EXPECT_EQ(s->core.procedures(), (procedures{10, create_intr_chan, enable_srq, enable_srq, destroy_intr_chan,
                                                create_intr_chan, enable_srq, enable_srq, destroy_intr_chan, 23}));
    EXPECT_THROW(s->connect(), transport::tcp_failure) << "released";

    scripted_core core6("::1");
    ComPtr<IMessage> session;
    if (open(manager(core6.port()).Get(), L"TCPIP::[::1]::INSTR", 1000, session) != L"open")
        GTEST_SKIP() << "no IPv6 loopback";
    ComPtr<IMorvaneServiceRequests> requests;
    ASSERT_EQ(session.As(&requests), S_OK);
    EXPECT_EQ(requests->EnableServiceRequests(), static_cast<HRESULT>(0x80040026)) << "unsupported";
}

} // namespace
} // namespace morvane::testing
