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

// The newest 64 stay, the rest are counted; while disabled nothing is queued and a wait fails at once.
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
    queue.enable(false); // keeps what is queued, until a discard empties both counts
    EXPECT_EQ(queue.queued(), 63L);
    queue.discard();
    EXPECT_EQ((std::pair{queue.queued(), queue.dropped()}), std::pair(0L, 0L));
    queue.enable(true);
    const auto started = clock::now();
    EXPECT_EQ(queue.wait(150ms, got), waited::timed_out);
    EXPECT_GE(clock::now() - started, 140ms);
}

// Every sink hears each request in order on the delivery's thread; an unadvised one is let go at once.
TEST(SinkDelivery, CallsEverySinkOnItsOwnThreadAndLetsTheUnadvisedGo)
{
    IUnknown* const session = reinterpret_cast<IUnknown*>(0x1234);
    recording_sink failing({.answer = E_FAIL}), listening;
    {
        events::sink_delivery delivery(session);
        DWORD first = 0, second = 0, none = 7;
        EXPECT_EQ(delivery.advise(&failing, &first), S_OK); // first: a failure must not stop the calls after it
        EXPECT_EQ(delivery.advise(&listening, &second), S_OK);
        EXPECT_EQ(delivery.advise(nullptr, &none), E_POINTER);
        delivery.post(0x41);
        delivery.post(0x60);
        const auto heard = listening.calls_after(2);
        ASSERT_EQ(heard.size(), 2u);
        EXPECT_EQ((std::tuple{heard[0].session, heard[1].session, heard[0].status_byte, heard[1].status_byte}),
                  std::tuple(session, session, short{0x41}, short{0x60}));
        EXPECT_NE(heard[0].thread, GetCurrentThreadId());
        EXPECT_EQ(failing.calls().size(), 2u);
        EXPECT_EQ((std::pair{delivery.unadvise(first), delivery.unadvise(first)}),
                  std::pair(S_OK, CONNECT_E_NOCONNECTION));
        delivery.post(0x42);
        EXPECT_EQ((std::tuple{listening.calls_after(3).size(), failing.calls().size(), failing.references()}),
                  (std::tuple<std::size_t, std::size_t, ULONG>(3, 2, 1)))
            << "the unadvised sink hears no more, and the table let it go";
    }
    EXPECT_EQ(listening.references(), 1u);
}

} // namespace
} // namespace morvane::testing
