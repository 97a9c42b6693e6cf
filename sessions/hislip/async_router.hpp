#pragma once
// The asynchronous channel while service requests are enabled: one thread reads every message
// that comes there. A reply goes to the exchange that waits for it (the instrument answers in
// the order it is asked, so replies follow the requests sent); an AsyncServiceRequest is
// followed by a status query of the thread's own, whose answer is the request's status byte.
//
// Bounds: one thread; at most one status query of its own in flight, sent only when no
// exchange waits, and `most_waiting` requests waiting for it (past that they are dropped); a
// payload no larger than control_payload_limit; the thread ends within a slice of 100 ms of
// being stopped. A status query not answered within its patience drops its request; its late
// answer is passed over when it comes, and no other query goes out before it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>
#include "hislip/session_channel.hpp"

namespace morvane::hislip {

struct async_message {
    header head;
    std::vector<unsigned char> payload;
};

class async_router {
public:
    // What the thread asks of its session, on its own thread, without the session's lock.
    struct session_side {
        std::function<header()> status_query;                // the AsyncStatusQuery to send now
        std::function<std::chrono::milliseconds()> patience; // how long its answer may take
        std::function<void(short status_byte)> raised;
    };
    static constexpr unsigned most_waiting = 64;

    // Starts the thread on `async`, whose next `owed` AsyncStatusResponses answer queries of
    // an earlier router and are passed over.
    async_router(channel& async, session_side side, unsigned owed);
    ~async_router() { stop(); }
    async_router(const async_router&) = delete;
    async_router& operator=(const async_router&) = delete;

    // Stops the thread; how many answers to its status queries are still to come.
    unsigned stop() noexcept;

    // Sends `request` and waits until `until` for its reply: the next message of type `expected`,
    // an Error or a FatalError (a FatalError, once come, answers every later exchange). Throws
    // what a read of the channel would: tcp_failure, protocol_error.
    async_message exchange(const header& request, std::span<const unsigned char> payload, message_type expected,
                           transport::deadline until);

private:
    struct awaited {
        bool own; // the thread's status query, or the exchange's request
        message_type expected;
        transport::deadline until;
        bool abandoned = false; // its reply, when it comes, is passed over
    };
    void run() noexcept;
    // False once the thread is to end.
    bool route(const header& message, std::vector<unsigned char>& payload);
    // Under m_lock: the status query for the next request waiting, when nothing else is awaited.
    void ask();
    void give_up_late_query();
    void fail(std::exception_ptr why);

    channel& m_async;
    const session_side m_side;
    std::mutex m_lock; // everything below, and every send on the channel
    std::condition_variable m_answered;
    std::deque<awaited> m_awaited;        // at most the owed, one query and one exchange
    std::optional<async_message> m_reply; // for the exchange
    std::optional<async_message> m_fatal; // the instrument ended the session
    std::exception_ptr m_failure;         // the thread ended on it
    unsigned m_requests = 0;              // waiting for a status query
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace morvane::hislip
