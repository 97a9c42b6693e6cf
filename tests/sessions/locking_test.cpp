// IMorvaneLocking through the resource manager: two clients of one instrument-sim, over VXI-11 and HiSLIP.
#include "session_codes.hpp"
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

using namespace session;

// After A's exclusive lock, client 0 (A) or 1 (B) asks this lock ("": exclusive, null: unlock), 300 ms.
// clang-format off
const struct step { int who; const wchar_t* asks; HRESULT got[2]; LONG held[2]; } steps[] = {
    {1, L"", {resource_locked, resource_locked}, {0, 0}},
    {1, L"grp", {E_INVALIDARG, resource_locked}, {0, 0}},
    {0, nullptr, {S_OK, S_OK}, {0, 0}},
    {0, nullptr, {not_locked, not_locked}, {0, 0}},
    {0, L"grp", {E_INVALIDARG, S_OK}, {0, 2}},
    {1, L"grp", {E_INVALIDARG, S_OK}, {0, 2}},
    {1, L"other", {E_INVALIDARG, device_error_reported}, {0, 2}}, // one shared name a client
    {0, L"", {S_OK, resource_locked}, {1, 2}},
    {1, nullptr, {not_locked, S_OK}, {0, 0}},
    {1, L"other", {E_INVALIDARG, resource_locked}, {0, 0}},
    {1, L"", {resource_locked, resource_locked}, {0, 0}},
    {0, L"", {S_OK, S_OK}, {1, 1}}, // VXI-11: again; HiSLIP: beside A's own shared lock
};
// clang-format on

TEST(Locking, KeepsOtherClientsOutUntilReleased)
{
    const kinds lan(vxi11 | hislip);
    for (const int kind : {0, 1}) {
        SCOPED_TRACE(lan.names[kind].first);
        ComPtr<IMessage> sessions[2];
        ComPtr<IMorvaneLocking> locks[2];
        const auto connect = [&](int who) {
            EXPECT_EQ(open(lan.resources.Get(), lan.names[kind].first, 300, sessions[who]), L"open");
            EXPECT_EQ(sessions[who].As(&locks[who]), S_OK);
        };
        connect(0), connect(1);
        // B's query under A's lock: over VXI-11 the write times out; over HiSLIP the server holds it.
        bound_component b(sessions[1].Get());
        ASSERT_EQ(locks[0]->Lock(300, make_bstr(L"").get()), S_OK);
        const std::wstring kept_out = taking(280ms, 5s, [&] {
            return kind ? (b.write(L"*IDN?") == S_OK ? b.read() : L"not sent") : outcome(b.write(L"*IDN?"));
        });
        EXPECT_EQ(code_of(kept_out), std::to_wstring(kind ? timeout_expired : resource_locked));
        for (const step& step : steps) {
            SCOPED_TRACE(std::to_wstring(&step - steps));
            IMorvaneLocking* asking = locks[step.who].Get();
            auto ask = [&] { return step.asks ? asking->Lock(300, make_bstr(step.asks).get()) : asking->Unlock(); };
            EXPECT_EQ(taking(step.got[kind] == resource_locked ? 280ms : 0ms, 1300ms, ask), step.got[kind]);
            LONG held = -1;
            EXPECT_EQ(asking->get_LockState(&held), S_OK);
            EXPECT_EQ(held, step.held[kind]);
            if (&step == steps + 2) { // A's unlock let B's query in
                EXPECT_EQ(kind ? b.read() : b.query(L"*IDN?"), L"Morvane,SIM-1,0,1.0\n");
            }
        }
        connect(0); // A's locks go with its session
        EXPECT_EQ(locks[1]->Lock(2000, make_bstr(L"").get()), S_OK);
    }
}

} // namespace
} // namespace morvane::testing
