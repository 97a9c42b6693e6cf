// IMorvaneLocking through the resource manager: two clients of one instrument-sim over HiSLIP and
// over VXI-11, what the one holding a lock keeps from the other, and the sessions that lock nothing.
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include "instrument-sim/instrument_server_process.hpp"
#include "platform/com_apartment.hpp"
#include "session_codes.hpp"
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

using namespace std::chrono_literals;
using clock = std::chrono::steady_clock;
using session::not_locked;
using session::resource_locked;
using session::timeout_expired;

// One server of each kind that locks; `a` and `b` are two clients of one of them.
struct lockers {
    ComPtr<IMorvaneResourceManager> resources = manager();
    instrument_server_process vxi11{L"..\\..\\bin\\", L"--vxi11 --portmapper-port 0 --seconds 120"};
    instrument_server_process hislip{L"..\\..\\bin\\", L"--hislip --seconds 120"};
    const std::wstring names[2] = {L"TCPIP::127.0.0.1::INSTR",
                                   L"TCPIP::127.0.0.1::hislip0," + std::to_wstring(hislip.port()) + L"::INSTR"};
    lockers() { EXPECT_EQ(resources->put_PortmapperPort(vxi11.portmapper_port()), S_OK); }
};

struct client {
    ComPtr<IMessage> session;
    ComPtr<IMorvaneLocking> locks;
    client(IMorvaneResourceManager* resources, const std::wstring& name)
    {
        EXPECT_EQ(open(resources, name, 2000, session), L"open");
        EXPECT_EQ(session.As(&locks), S_OK);
    }
    HRESULT lock(LONG timeout, const wchar_t* name = L"") { return locks->Lock(timeout, make_bstr(name).get()); }
    LONG state()
    {
        LONG held = -1;
        EXPECT_EQ(locks->get_LockState(&held), S_OK);
        return held;
    }
};

// The HRESULT that an outcome starts with.
std::wstring code_of(const std::wstring& outcome) { return outcome.substr(0, outcome.find(L' ')); }
std::wstring code_of(HRESULT hr) { return std::to_wstring(hr); }

// The HRESULT of a call that takes its whole timeout of 300 ms, and not a second more.
std::wstring after_timeout(const std::function<std::wstring()>& call)
{
    const auto started = clock::now();
    const std::wstring got = code_of(call());
    EXPECT_GT(clock::now() - started, 280ms);
    EXPECT_LT(clock::now() - started, 1300ms);
    return got;
}

// B waits out the whole timeout of a lock or, over VXI-11, of a write; over HiSLIP its message is
// held until A unlocks. Then B locks, and an Unlock without a lock fails.
TEST(Locking, AnExclusiveLockKeepsOtherClientsOutUntilItIsReleased)
{
    const lockers servers;
    for (const bool hislip : {false, true}) {
        SCOPED_TRACE(servers.names[hislip]);
        client a(servers.resources.Get(), servers.names[hislip]), b(servers.resources.Get(), servers.names[hislip]);
        bound_component b_io(b.session.Get());
        ASSERT_EQ(a.lock(1000), S_OK);
        EXPECT_EQ(a.state(), 1);
        EXPECT_EQ(b.state(), 0);
        EXPECT_EQ(b.session->put_Timeout(300), S_OK);
        EXPECT_EQ(after_timeout([&] { return outcome(b.lock(300)); }), code_of(resource_locked));
        EXPECT_EQ(b.state(), 0);
        if (hislip) { // the message goes, and waits at the server
            EXPECT_EQ(b_io.write(L"*IDN?"), S_OK);
            EXPECT_EQ(after_timeout([&] { return b_io.read(); }), code_of(timeout_expired));
        } else {
            EXPECT_EQ(after_timeout([&] { return outcome(b_io.write(L"*IDN?")); }), code_of(resource_locked));
        }
        EXPECT_EQ(a.locks->Unlock(), S_OK);
        EXPECT_EQ(a.state(), 0);
        EXPECT_EQ(hislip ? b_io.read() : b_io.query(L"*IDN?"), L"Morvane,SIM-1,0,1.0\n") << "let in";
        EXPECT_EQ(b.lock(1000), S_OK);
        EXPECT_EQ(b.state(), 1);
        EXPECT_EQ(b.locks->Unlock(), S_OK);
        for (client* unlocked : {&a, &b})
            EXPECT_EQ(code_of(outcome(unlocked->locks->Unlock())), code_of(not_locked));
    }
}

// Which lock B gets while A holds another, over HiSLIP; VXI-11 has no shared locks.
TEST(Locking, SharedLocksOfOneNameAreHeldTogether)
{
    const lockers servers;
    const struct {
        bool hislip;
        const wchar_t *held, *asked;
        HRESULT b_gets;
        LONG b_state;
    } rows[] = {
        {true, L"grp", L"grp", S_OK, 2},          {true, L"grp", L"", resource_locked, 0},
        {true, L"", L"grp", resource_locked, 0},  {true, L"grp", L"other", resource_locked, 0},
        {false, L"grp", L"grp", E_INVALIDARG, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::wstring(row.held) + L" then " + row.asked + L" over " + servers.names[row.hislip]);
        client a(servers.resources.Get(), servers.names[row.hislip]),
            b(servers.resources.Get(), servers.names[row.hislip]);
        const HRESULT a_gets = a.lock(1000, row.held);
        EXPECT_EQ(a_gets, row.hislip ? S_OK : E_INVALIDARG);
        EXPECT_EQ(a.state(), row.hislip ? (*row.held ? 2 : 1) : 0);
        EXPECT_EQ(code_of(outcome(b.lock(200, row.asked))), code_of(row.b_gets));
        EXPECT_EQ(b.state(), row.b_state);
    }
}

// A lock goes with its session: one released at once, and one released while another client waits for it.
TEST(Locking, ALockIsReleasedWithItsSession)
{
    const lockers servers;
    for (const bool hislip : {false, true})
        for (const auto wait : {0ms, 300ms}) {
            SCOPED_TRACE(servers.names[hislip] + L" closed after " + std::to_wstring(wait.count()) + L" ms");
            auto a = std::make_unique<client>(servers.resources.Get(), servers.names[hislip]);
            client b(servers.resources.Get(), servers.names[hislip]);
            ASSERT_EQ(a->lock(1000), S_OK);
            std::thread closing([&] {
                const com_apartment com(COINIT_MULTITHREADED);
                std::this_thread::sleep_for(wait);
                a.reset();
            });
            if (wait == 0ms)
                closing.join();
            const auto started = clock::now();
            EXPECT_EQ(b.lock(3000), S_OK);
            EXPECT_LT(clock::now() - started, wait + 700ms);
            if (closing.joinable())
                closing.join();
        }
}

// Only the network sessions lock, and they say so with error information.
TEST(Locking, OnlyNetworkSessionsLock)
{
    const lockers servers;
    const instrument_server_process raw(L"..\\..\\bin\\", L"--seconds 120");
    const std::pair<std::wstring, HRESULT> kinds[] = {
        {L"SIM", E_NOINTERFACE},
        {L"TCPIP::127.0.0.1::" + std::to_wstring(raw.port()) + L"::SOCKET", E_NOINTERFACE},
        {servers.names[0], S_OK},
        {servers.names[1], S_OK}};
    for (const auto& [name, locks] : kinds) {
        SCOPED_TRACE(name);
        ComPtr<IMessage> session;
        ASSERT_EQ(open(servers.resources.Get(), name, 2000, session), L"open");
        ComPtr<IMorvaneLocking> locking;
        EXPECT_EQ(session.As(&locking), locks);
        ComPtr<ISupportErrorInfo> errors;
        ASSERT_EQ(session.As(&errors), S_OK);
        EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IMorvaneLocking), locks == S_OK ? S_OK : S_FALSE);
    }
}

} // namespace
} // namespace morvane::testing
