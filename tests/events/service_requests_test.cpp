// Service requests below the sessions: the queue a client waits on, and the thread that calls the sinks.
#include <gtest/gtest.h>
#include <olectl.h>
#include "events/service_request_queue.hpp"
#include "events/sink_delivery.hpp"
#include "support/recording_sink.hpp"

namespace morvane::testing {
namespace {

using namespace std::chrono_literals;
using events::service_request_queue;
using waited = service_request_queue::waited;
using clock = std::chrono::steady_clock;

// Requests faster than the client takes them: the newest 64 stay, the rest are counted; a
// discard empties both; while disabled nothing is queued and a wait fails at once.
TEST(ServiceRequestQueue, KeepsTheNewestAndCountsWhatItDrops)
{
    service_request_queue queue;
    short got = 0;
    EXPECT_TRUE(!queue.push(1) && queue.wait(5s, got) == waited::disabled);
    queue.enable(true);
    for (short i = 0; i < 70; ++i)
        EXPECT_TRUE(queue.push(i));
    EXPECT_EQ((std::pair{queue.queued(), queue.dropped()}), std::pair(64L, 6L));
    EXPECT_EQ((std::pair{queue.wait(0ms, got), got}), std::pair(waited::got, short{6}));
    queue.enable(false); // keeps what is queued
    EXPECT_EQ(queue.queued(), 63);
    queue.discard();
    EXPECT_EQ((std::pair{queue.queued(), queue.dropped()}), std::pair(0L, 0L));
    queue.enable(true);
    const auto started = clock::now();
    EXPECT_EQ(queue.wait(150ms, got), waited::timed_out);
    EXPECT_GE(clock::now() - started, 140ms);
}

// A waiter wakes for a request from another thread, and for a disable.
TEST(ServiceRequestQueue, WakesItsWaiters)
{
    service_request_queue queue;
    queue.enable(true);
    for (const bool disable : {false, true}) {
        std::thread other([&] {
            std::this_thread::sleep_for(100ms);
            disable ? queue.enable(false) : (void)queue.push(0x61);
        });
        short got = 0;
        const auto started = clock::now();
        EXPECT_EQ(queue.wait(10s, got), disable ? waited::disabled : waited::got);
        EXPECT_LT(clock::now() - started, 5s);
        EXPECT_EQ(got, disable ? 0 : 0x61);
        other.join();
    }
}

// Every sink hears each request in order on the delivery's own thread, whatever another answers; an
// unadvised one hears nothing more and is released.
TEST(SinkDelivery, CallsEverySinkOnItsOwnThread)
{
    IUnknown* const session = reinterpret_cast<IUnknown*>(0x1234);
    recording_sink failing({.answer = E_FAIL}), listening;
    {
        events::sink_delivery delivery(session);
        DWORD first = 0, second = 0;
        EXPECT_EQ(delivery.advise(&failing, &first), S_OK);
        EXPECT_EQ(delivery.advise(&listening, &second), S_OK);
        EXPECT_NE(first, second);
        for (const short status : {0x41, 0x60})
            delivery.post(status);
        const auto heard = listening.calls_after(2);
        ASSERT_EQ(heard.size(), 2u);
        EXPECT_TRUE(heard[0].session == session && heard[1].session == session);
        EXPECT_EQ((std::pair{heard[0].status_byte, heard[1].status_byte}), std::pair(short{0x41}, short{0x60}));
        EXPECT_NE(heard[0].thread, GetCurrentThreadId());
        EXPECT_EQ(failing.calls().size(), 2u);
        EXPECT_EQ((std::pair{delivery.unadvise(first), delivery.unadvise(first)}),
                  std::pair(S_OK, CONNECT_E_NOCONNECTION));
        delivery.post(0x42);
        EXPECT_EQ((std::pair{listening.calls_after(3).size(), failing.calls().size()}),
                  (std::pair<std::size_t, std::size_t>(3, 2)));
        EXPECT_EQ(failing.references(), 1u) << "the table let it go";
        recording_sink* const none = nullptr;
        DWORD cookie = 7;
        EXPECT_EQ(delivery.advise(reinterpret_cast<IUnknown*>(none), &cookie), E_POINTER);
    }
    EXPECT_EQ(listening.references(), 1u) << "released with the delivery";
}

// Released while a slow sink is in its call: the release waits for the call, then nothing more is called.
TEST(SinkDelivery, EndsAfterTheCallInProgress)
{
    recording_sink slow({.pause = 300ms});
    const auto started = clock::now();
    {
        events::sink_delivery delivery(nullptr);
        DWORD cookie = 0;
        ASSERT_EQ(delivery.advise(&slow, &cookie), S_OK);
        for (int i = 0; i < 10; ++i)
            delivery.post(1);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_GE(clock::now() - started, 300ms);
    EXPECT_EQ(slow.calls().size(), 1u);
    EXPECT_EQ(slow.references(), 1u);
}

} // namespace
} // namespace morvane::testing
