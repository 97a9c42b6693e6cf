// Service requests below the sessions: the queue a client waits on.
#include <gtest/gtest.h>
#include "events/service_request_queue.hpp"

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

} // namespace
} // namespace morvane::testing
