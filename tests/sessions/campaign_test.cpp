// A seeded campaign of misbehaving peers against the network sessions; docs/testing.md, "Network campaign".
#include <windows.h>
#include <psapi.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include "scripted_core.hpp"
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

using bytes = std::vector<unsigned char>;
enum class fault {
    // clang-format off
    none, wrong_xid, reply_as_call, truncated_mark, huge_mark, lying_length, no_reason, // records
    silent, close_mid_reply, slow, garbage, endless, count                             // any stream
    // clang-format on
};

// One peer on a port it picked: every connection served by `behave`, which must end within seconds.
struct fake_peer {
    template<typename Behave>
    explicit fake_peer(Behave behave)
        : thread([this, behave] {
              while (!done)
                  if (const auto client = listener.accept(20ms))
                      behave(client.get());
          })
    {}
    ~fake_peer() { done = true, listener.stop(), thread.join(); }
    transport::tcp_listener listener{"127.0.0.1", 0, 4};
    std::atomic<bool> done{false};
    std::thread thread; // last: it starts once the others are there
};

// Sends a reply's record as `how` spoils it; false once the connection is to close.
bool send_spoilt(SOCKET client, bytes record, fault how, std::mt19937& rng)
{
    const auto until = clock::now() + 5s; // the most a peer streams: longer than any call may take
    const auto put = [&](const void* data, std::size_t size) {
        return send(client, static_cast<const char*>(data), int(size), 0) > 0;
    };
    switch (how) {
    case fault::wrong_xid: record[4] ^= 0x5A; break;
    case fault::reply_as_call: record[11] = 0; break;
    case fault::truncated_mark: record.resize(4 + (record.size() - 4) / 2); break;
    case fault::huge_mark: record[0] = rng() % 2 ? 0xFF : 0x7F; break;
    case fault::lying_length: { // a word of the results (a length, a count) claims far more
        const std::uint32_t claims[] = {0xFFFFFFF0u, 0x7FFFFFFFu, 0x01000000u, 0x00100000u};
        std::memcpy(&record[28 + 4 * (rng() % ((record.size() - 28) / 4))], &claims[rng() % 4], 4);
        break;
    }
    case fault::garbage:
        std::generate(record.begin(), record.end(), [&] { return static_cast<unsigned char>(rng()); });
        break;
    case fault::silent: break;
    case fault::close_mid_reply: put(record.data(), record.size() / 2); return false;
    case fault::slow:
        for (std::size_t i = 0; i < record.size() && clock::now() < until; ++i, std::this_thread::sleep_for(5ms))
            put(&record[i], 1);
        return true;
    case fault::endless: // a line that never ends, then a close
        for (const std::string text(64 << 10, 'x'); clock::now() < until && put(text.data(), text.size());) {}
        return false;
    default: break;
    }
    if (how != fault::silent)
        put(record.data(), record.size());
    if (how != fault::silent && how != fault::truncated_mark && how != fault::huge_mark)
        return true;
    // What never comes: the connection is held until the client gives up on it.
    char ignored[4096];
    for (int got = -1; clock::now() < until && got != 0;)
        got = recv(client, ignored, sizeof ignored, 0); // 0 once the client closes
    return false;
}

// A reply to `call` of accepted results: one word, record-marked.
bytes reply(const bytes& call, std::uint32_t result)
{
    oncrpc::xdr_reader in(call);
    oncrpc::xdr_writer out;
    oncrpc::put_accepted_reply(out, oncrpc::get_call(in).xid, 0);
    out.put(result);
    const auto record = out.record();
    return bytes(record.begin(), record.end());
}

std::size_t peak_memory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    EXPECT_TRUE(K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters));
    return counters.PeakWorkingSetSize;
}

// A call's outcome and how long it took, checked against its bound.
template<typename Call> void bounded(const char* what, std::chrono::milliseconds most, Call call)
{
    const auto started = clock::now();
    const HRESULT hr = call();
    const auto took = clock::now() - started;
    EXPECT_LT(took, most) << what << " took " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                          << " ms";
    EXPECT_TRUE(SUCCEEDED(hr) || outcome(hr).find(L"without a record") == std::wstring::npos)
        << what << " failed without error information";
}

TEST(SessionsCampaign, EveryCallEndsInTimeWithErrorInformationAndMemoryStaysBounded)
{
    const auto from_environment = [](const char* name, unsigned otherwise) {
        const char* value = std::getenv(name);
        return value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : otherwise;
    };
    const unsigned seed = from_environment("MORVANE_CAMPAIGN_SEED", static_cast<unsigned>(std::time(nullptr)));
    const unsigned trials = from_environment("MORVANE_CAMPAIGN_TRIALS", 26);
    std::mt19937 rng(seed);
    std::printf("seed %u, %u trials\n", seed, trials);
    const std::size_t memory_before = peak_memory();
    for (unsigned trial = 0; trial < trials; ++trial) {
        // Every fault of every peer (portmapper 0, core 1, raw 2: no records, faults from fault::silent on).
        const unsigned row = trial % 26, kind = row < 10 ? 0 : row < 21 ? 1 : 2;
        const auto how = static_cast<fault>(kind == 0 ? row + 1 + (row >= 5) : kind == 1 ? row - 9 : row - 14);
        const unsigned spoil = rng() % 3;
        const LONG timeout = rng() % 2 ? 100 : 300;
        const LONG count = rng() % 2 ? 0x7FFFFFFF : LONG(1) << rng() % 3 * 10; // 1 B, 1 KiB or 1 MiB
        SCOPED_TRACE(::testing::Message()
                     << "seed " << seed << " trial " << trial << " fault " << int(how) << " at call " << spoil
                     << " kind " << kind << " timeout " << timeout << " count " << count);
        std::mt19937 peer_rng(rng());
        // Good answers until the `spoil`-th reply; fault::no_reason: every device_read without a reason bit.
        const bool spoils_core = kind == 1 && how != fault::no_reason;
        unsigned replies = 0;
        scripted_core core("127.0.0.1", [&](SOCKET client, bytes record) {
            return send_spoilt(client, std::move(record), spoils_core && replies++ >= spoil ? how : fault::none,
                               peer_rng);
        });
        if (kind == 1 && how == fault::no_reason) {
            core.endless = std::string(peer_rng() % 2 ? 64 << 10 : 0, 'x');
            core.empty_when_done = true;
        } else {
            core.reads.assign(9, {0, 4, "1\n"});
        }
        fake_peer mapper([&](SOCKET client) {
            if (const auto call = next_record(client, 3000))
                send_spoilt(client, reply(*call, core.port()), kind == 0 ? how : fault::none, peer_rng);
        });
        fake_peer raw([&](SOCKET client) {
            char got[256];
            for (unsigned call = 0; recv(client, got, sizeof got, 0) > 0; ++call)
                if (!send_spoilt(client, {'1', '\n'}, call >= spoil && how >= fault::silent ? how : fault::none,
                                 peer_rng))
                    return;
        });
        auto resources = manager();
        ASSERT_EQ(resources->put_PortmapperPort(mapper.listener.port()), S_OK);
        const std::wstring name = kind == 2 ? L"TCPIP::127.0.0.1::" + std::to_wstring(raw.listener.port()) + L"::SOCKET"
                                            : L"TCPIP::127.0.0.1::INSTR";
        // A call may wait for the portmapper and then the core channel, each Timeout and a second.
        const auto most = std::chrono::milliseconds(2 * (timeout + 1000) + 1500);
        ComPtr<IMessage> session;
        bounded("Open", most, [&] { return resources->Open(make_bstr(name).get(), timeout, &session); });
        if (ComPtr<IMorvaneSessionLimits> limits; session) {
            ASSERT_EQ(session.As(&limits), S_OK);
            EXPECT_EQ(limits->put_MaximumMessageSize(1 << 20), S_OK); // an endless message fails soon
        }
        for (int call = 0; session && call < 3; ++call) {
            bounded("Write", most, [&] { return write_bytes(session.Get(), "*IDN?\n"); });
            bounded("Read", most, [&] { return session->Read(count, unique_safearray().put()); });
        }
        session.Reset();
        ASSERT_LT(peak_memory() - memory_before, std::size_t{64} << 20) << "the client's memory grew";
    }
    std::printf("peak working set grew by %zu KiB\n", (peak_memory() - memory_before) >> 10);
}

} // namespace
} // namespace morvane::testing
