// Objects created and called from several threads at once. Each object serialises its own
// calls; distinct objects do not wait for each other.
#include <gtest/gtest.h>
#include <barrier>
#include <string>
#include <thread>
#include <vector>
#include "gated_session.hpp"
#include "installed_server.hpp"
#include "support/scripted_session.hpp"

namespace server_tests {
namespace {

using Threads = installed_server;

struct owned_bstr {
    BSTR text;
    explicit owned_bstr(const std::wstring& value) : text(SysAllocStringLen(value.data(), static_cast<UINT>(value.size()))) {}
    ~owned_bstr() { SysFreeString(text); }
    owned_bstr(const owned_bstr&) = delete;
    owned_bstr& operator=(const owned_bstr&) = delete;
};

HRESULT write_string(IFormattedIO488* io, const std::wstring& text)
{
    const owned_bstr data(text);
    return io->WriteString(data.text, VARIANT_TRUE);
}

std::wstring read_string(IFormattedIO488* io)
{
    BSTR text = nullptr;
    EXPECT_EQ(io->ReadString(&text), S_OK);
    std::wstring result(text ? text : L"", text ? SysStringLen(text) : 0);
    SysFreeString(text);
    return result;
}

// Each thread has its own object and session and runs its own exchanges with them.
TEST_F(Threads, EachThreadWithItsOwnObject)
{
    constexpr int thread_count = 8;
    constexpr int rounds = 25;
    std::barrier start(thread_count);
    std::vector<std::jthread> threads;
    for (int t = 0; t < thread_count; ++t)
        threads.emplace_back([&, t] {
            const apartment here(t % 2 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
            start.arrive_and_wait();
            morvane::testing::scripted_session session;
            {
                const com_ptr<IFormattedIO488> io = create_by_progid(t % 2 ? L"VISA.Tellurix" : L"VISA.Tellurix.1");
                ASSERT_TRUE(io);
                ASSERT_EQ(io->putref_IO(&session), S_OK);
                std::vector<std::string> expected;
                for (int round = 0; round < rounds; ++round) {
                    const std::string tag = std::to_string(t) + "." + std::to_string(round);
                    session.respond("reply " + tag + "\n", {3});
                    ASSERT_EQ(write_string(io.Get(), L"Q" + std::wstring(tag.begin(), tag.end())), S_OK);
                    EXPECT_EQ(read_string(io.Get()), L"reply " + std::wstring(tag.begin(), tag.end()) + L"\n");
                    expected.push_back("Q" + tag + "\n");
                }
                EXPECT_EQ(session.writes(), expected);
            }
            EXPECT_EQ(session.references(), 0);
        });
}

// While one thread's call holds an object inside its session, a second thread's call on the
// same object waits for it. The first call is held until the second returns, or at most a
// second: had the second not waited, it would have returned while the first was held.
TEST_F(Threads, OneObjectSerialisesItsCalls)
{
    event_log log;
    gated_session session(log, "S");
    event gate;
    session.hold_first_write(gate, 1000);
    const com_ptr<IFormattedIO488> io = create_by_progid(L"VISA.Tellurix");
    ASSERT_TRUE(io);
    ASSERT_EQ(io->putref_IO(&session), S_OK);
    {
        std::jthread first([&] {
            const apartment here(COINIT_MULTITHREADED);
            EXPECT_EQ(write_string(io.Get(), L"A"), S_OK);
        });
        ASSERT_TRUE(session.wait_until_held(10000));
        std::jthread second([&] {
            const apartment here(COINIT_MULTITHREADED);
            EXPECT_EQ(write_string(io.Get(), L"B"), S_OK);
            log.add("B returned");
            gate.set();
        });
    }
    EXPECT_EQ(log.entries(),
              (std::vector<std::string>{"S enter A\n", "S leave A\n", "S enter B\n", "S leave B\n", "B returned"}));
    ASSERT_EQ(io->putref_IO(nullptr), S_OK);
}

// While one object is held inside its session, another object's call goes through. The held
// call waits for the other to return (at most ten seconds, should they wait for each other).
TEST_F(Threads, DistinctObjectsDoNotWaitForEachOther)
{
    event_log log;
    gated_session held(log, "S1");
    gated_session other(log, "S2");
    event gate;
    held.hold_first_write(gate, 10000);
    const com_ptr<IFormattedIO488> first_io = create_by_progid(L"VISA.Tellurix");
    const com_ptr<IFormattedIO488> second_io = create_by_progid(L"VISA.Tellurix");
    ASSERT_TRUE(first_io && second_io);
    ASSERT_EQ(first_io->putref_IO(&held), S_OK);
    ASSERT_EQ(second_io->putref_IO(&other), S_OK);
    {
        std::jthread first([&] {
            const apartment here(COINIT_MULTITHREADED);
            EXPECT_EQ(write_string(first_io.Get(), L"A"), S_OK);
        });
        ASSERT_TRUE(held.wait_until_held(10000));
        std::jthread second([&] {
            const apartment here(COINIT_MULTITHREADED);
            EXPECT_EQ(write_string(second_io.Get(), L"B"), S_OK);
            log.add("B returned");
            gate.set();
        });
    }
    EXPECT_EQ(log.entries(),
              (std::vector<std::string>{"S1 enter A\n", "S2 enter B\n", "S2 leave B\n", "B returned", "S1 leave A\n"}));
    ASSERT_EQ(first_io->putref_IO(nullptr), S_OK);
    ASSERT_EQ(second_io->putref_IO(nullptr), S_OK);
}

} // namespace
} // namespace server_tests
