// VXI-11 sessions against a scripted core channel (the manager's CorePort) and instrument-sim --vxi11.
#include "scripted_core.hpp"
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

constexpr const wchar_t* vxi11_source = L"Morvane VXI-11 session";
constexpr HRESULT device_refused = static_cast<HRESULT>(0x800400B1);
constexpr HRESULT locked = static_cast<HRESULT>(0x8004000F), not_locked = static_cast<HRESULT>(0x8004009C);
constexpr const wchar_t* local_instrument = L"TCPIP::127.0.0.1::INSTR";

// The bytes of one Read as text and its status; a failure shows as its outcome.
std::wstring read(IMessage* session, LONG count, LONG* status = nullptr)
{
    SAFEARRAY* raw = nullptr;
    const HRESULT hr = session->Read(count, &raw);
    const unique_safearray bytes(raw);
    if (FAILED(hr))
        return outcome(hr);
    if (status)
        session->get_LastStatus(status);
    return std::wstring(static_cast<const char*>(raw->pvData),
                        static_cast<const char*>(raw->pvData) + raw->rgsabound[0].cElements);
}

// The core channel's numbers as the session reports them, and what becomes of the session.
TEST(Vxi11Sessions, ReportEachDeviceErrorByNameAndGoOnOrFailAtOnce)
{
    scripted_core core;
    const auto resources = manager(core.port());
    // clang-format off
    const struct { std::int32_t code; HRESULT hr; const wchar_t* name; bool lost; } errors[] = {
        {1, device_refused, L"syntax error", false},           {3, resource_not_found, L"device not accessible", false},
        {4, connection_lost, L"invalid link identifier", true}, {5, device_refused, L"parameter error", false},
        {6, device_refused, L"channel not established", false}, {8, device_refused, L"operation not supported", false},
        {9, device_refused, L"out of resources", false},        {11, locked, L"device locked by another link", false},
        {12, not_locked, L"no lock held by this link", false}, {15, session_timeout, L"I/O timeout", false},
        {17, connection_lost, L"I/O error", true},              {21, resource_not_found, L"invalid address", false},
        {23, connection_lost, L"abort", true},                  {29, device_refused, L"channel already established", false},
        {99, device_refused, L"unknown error", false},
    };
    // clang-format on
    for (const auto& e : errors) {
        ComPtr<IMessage> session;
        ASSERT_EQ(open(resources.Get(), local_instrument, 2000, session), L"open");
        const auto extra = own(session.Get());
        core.error = e.code;
        const std::wstring text =
            L"The device reported VXI-11 error " + std::to_wstring(e.code) + L" (" + e.name + L").";
        EXPECT_EQ(outcome(write_bytes(session.Get(), "*CLS\n")),
                  error_line(e.hr, text, vxi11_source, L"", 0, IID_IMessage));
        EXPECT_EQ(outcome(extra->AssertTrigger()),
                  error_line(e.hr, e.lost ? L"The connection to the instrument was lost." : text, vxi11_source, L"", 0,
                             IID_IMorvaneSession));
        core.error = 0;
        short status = 0;
        const auto calls = core.calls().size();
        const std::wstring answered = code_of(outcome(extra->ReadStatusByte(&status)));
        EXPECT_EQ(std::tuple(answered, status, core.calls().size() - calls), // a lost link is not called
                  std::tuple(e.lost ? std::to_wstring(connection_lost) : L"0", static_cast<short>(e.lost ? 0 : 0x42),
                             std::size_t{e.lost ? 0u : 1u}));
    }
}

// Device name, lock timeout, writes split at maxRecvSize, read arguments and reasons, destroy_link.
TEST(Vxi11Sessions, SendWhatTheCoreChannelAsksFor)
{
    scripted_core core;
    core.take_at_most = 700;
    const auto resources = manager(core.port());
    ComPtr<IMessage> session;
    ASSERT_EQ(open(resources.Get(), L"TCPIP1::127.0.0.1::gpib0,5", 1500, session), L"open");
    std::string data(2000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + i % 23);
    for (const bool end : {false, true}) {
        EXPECT_EQ(session->put_SendEndEnabled(end ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
        EXPECT_EQ(write_bytes(session.Get(), data), S_OK);
    }
    EXPECT_EQ(write_bytes(session.Get(), ""), S_OK);
    core.reads = {{0, 0, "ab"}, {0, 0, "c"}, {0, 1, "de"}, {0, 0, "fg"}, {15, 0, ""}, {0, 4, "h"}};
    EXPECT_EQ(session->put_Timeout(777), S_OK);
    EXPECT_EQ(own(session.Get())->put_TerminationCharacter(','), S_OK);
    LONG status = -1;
    EXPECT_EQ(read(session.Get(), 5, &status), L"abcde") << "read again after a reply without a reason";
    EXPECT_EQ(status, 0x00040006);
    EXPECT_EQ(session->put_TerminationCharacterEnabled(VARIANT_TRUE), S_OK);
    EXPECT_EQ(code_of(read(session.Get(), 5)), std::to_wstring(session_timeout));
    EXPECT_EQ(read(session.Get(), 5, &status), L"fgh") << "what came before the failure is not lost";
    EXPECT_EQ(status, 0);
    // END before the termination character before the count.
    const struct {
        std::int32_t reason;
        LONG count, status;
    } reasons[] = {{7, 10, 0}, {5, 10, 0}, {3, 10, 0x00040005}, {2, 10, 0x00040005}, {1, 1, 0x00040006}};
    for (const auto& [reason, count, expected] : reasons) {
        core.reads = {{0, reason, "x"}};
        EXPECT_EQ(read(session.Get(), count, &status), L"x");
        EXPECT_EQ(status, expected) << reason;
    }
    session.Reset();
    std::vector<std::vector<std::uint32_t>> fields;
    std::string taken;
    for (const auto& call : core.calls()) {
        fields.push_back(call.fields);
        fields.back().insert(fields.back().begin(), call.procedure);
        if (call.procedure == 11) {
            fields.back().push_back(static_cast<std::uint32_t>(call.data.size()));
            taken += call.data.substr(0, 700);
        }
    }
    const std::vector<std::vector<std::uint32_t>> expected = {
        // clang-format off
        {10, 0, 0, 1500},                                           // create_link, no lock, its timeout
        // every call waits for another link's lock (flag 1) within its timeout
        {11, 7, 1500, 1500, 1, 1024}, {11, 7, 1500, 1500, 1, 1024}, {11, 7, 1500, 1500, 1, 600}, // no END
        {11, 7, 1500, 1500, 1, 1024}, {11, 7, 1500, 1500, 1, 1024}, // 1024 sent, 700 taken, 1300 left
        {11, 7, 1500, 1500, 9, 600}, {11, 7, 1500, 1500, 9, 0},     // ... END on the last, or alone
        {12, 7, 5, 777, 777, 1, ','}, {12, 7, 3, 777, 777, 1, ','}, {12, 7, 2, 777, 777, 1, ','},
        {12, 7, 5, 777, 777, 0x81, ','}, {12, 7, 3, 777, 777, 0x81, ','}, {12, 7, 3, 777, 777, 0x81, ','},
        {12, 7, 10, 777, 777, 0x81, ','}, {12, 7, 10, 777, 777, 0x81, ','}, {12, 7, 10, 777, 777, 0x81, ','},
        {12, 7, 10, 777, 777, 0x81, ','}, {12, 7, 1, 777, 777, 0x81, ','}, {23, 7},
        // clang-format on
    };
    EXPECT_EQ(fields, expected);
    EXPECT_EQ(core.calls().front().data, "gpib0,5");
    EXPECT_EQ(taken, data + data);
}

// Silence or empty replies fail in time (silence relinks); endless data stop at MaximumMessageSize.
TEST(Vxi11Sessions, FailWithinTheirTimeoutAndAtOnceWhenTheConnectionIsGone)
{
    scripted_core core;
    core.silent = true;
    ComPtr<IMessage> session;
    ASSERT_EQ(open(manager(core.port()).Get(), local_instrument, 300, session), L"open");
    const auto timed_out = [&] { return code_of(read(session.Get(), 10)); };
    EXPECT_EQ(taking(1300ms, 2200ms, timed_out), std::to_wstring(session_timeout));
    core.silent = false;
    core.reads = {{0, 4, "back"}};
    EXPECT_EQ(read(session.Get(), 10), L"back");
    EXPECT_EQ(std::ranges::count(core.procedures(), 10u), 2);
    // Replies that bring neither data nor a reason are read again, within the same bound.
    core.reads = {{0, 0, "ab"}};
    core.empty_when_done = true;
    EXPECT_EQ(taking(1300ms, 2500ms, timed_out), std::to_wstring(session_timeout));
    core.empty_when_done = false;
    core.reads = {{0, 4, "cd"}};
    EXPECT_EQ(read(session.Get(), 10), L"abcd") << "what came before is not lost";
    core.endless = std::string(1000, 'x');
    ComPtr<IMorvaneSessionLimits> limits;
    ASSERT_EQ(session.As(&limits), S_OK);
    EXPECT_EQ(limits->put_MaximumMessageSize(100000), S_OK);
    bound_component instrument(session.Get());
    EXPECT_EQ(code_of(taking(0ms, 2500ms, [&] { return instrument.read(); })), // its text: CarryTheComponentsTraffic...
              std::to_wstring(message_too_long));
    core.endless.clear();
    core.reads = {{0, 0, "rest"}, {0, 4, "rest"}, {0, 4, "next\n"}};
    EXPECT_EQ(instrument.read(), L"next\n");

    const kinds dropping(vxi11, L"--drop-after 5000");
    ASSERT_EQ(open(dropping.resources.Get(), local_instrument, 2000, session), L"open");
    EXPECT_EQ(instrument.io->putref_IO(session.Get()), S_OK);
    EXPECT_EQ(instrument.write(L"WAV:POIN 300000;DATA?"), S_OK);
    EXPECT_EQ(code_of(read(session.Get(), 2000000)), std::to_wstring(connection_lost));
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(taking(0ms, 100ms, [&] { return code_of(outcome(write_bytes(session.Get(), "*IDN?\n"))); }),
                  std::to_wstring(connection_lost));
}

} // namespace
} // namespace morvane::testing
