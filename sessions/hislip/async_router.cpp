#include "hislip/async_router.hpp"

namespace morvane::hislip {
namespace {

using std::chrono::steady_clock;
using transport::tcp_failure;

// How soon the thread sees that it is to stop.
constexpr std::chrono::milliseconds slice{100};

} // namespace

async_router::async_router(channel& async, session_side side, unsigned owed) : m_async(async), m_side(std::move(side))
{
    for (; owed > 0; --owed)
        m_awaited.push_back({true, message_type::async_status_response, steady_clock::now(), true});
    m_thread = std::thread([this] { run(); });
}

unsigned async_router::stop() noexcept
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    const std::lock_guard guard(m_lock);
    unsigned owed = 0;
    for (const awaited& waiting : m_awaited)
        owed += waiting.own ? 1 : 0;
    return owed;
}

async_message async_router::exchange(const header& request, std::span<const unsigned char> payload,
                                     message_type expected, transport::deadline until)
{
    std::unique_lock guard(m_lock);
    const auto ended = [this] { return m_fatal || m_failure; };
    if (!ended()) {
        m_async.send(request, payload, until);
        m_reply.reset();
        m_awaited.push_back({false, expected, until});
        if (!m_answered.wait_until(guard, until, [&] { return m_reply || ended(); })) {
            for (awaited& waiting : m_awaited)
                waiting.abandoned = waiting.abandoned || !waiting.own;
            throw tcp_failure{tcp_failure::timed_out, L"Timeout expired before operation completed."};
        }
        if (m_reply)
            return std::move(*std::exchange(m_reply, std::nullopt));
    }
    if (m_fatal)
        return *m_fatal;
    std::rethrow_exception(m_failure);
}

void async_router::run() noexcept
{
    // A message read in slices: what came of it stays here between them.
    std::optional<header> message;
    std::vector<unsigned char> payload;
    std::size_t got = 0;
    try {
        while (!m_stopping) {
            give_up_late_query();
            try {
                const auto receive = m_async.receiver(steady_clock::now() + slice);
                if (!message) {
                    message = m_async.stream.next_header(receive);
                    if (!message)
                        throw tcp_failure{tcp_failure::lost, L"The connection was closed by the instrument."};
                    channel::check_small(*message);
                    payload.assign(static_cast<std::size_t>(message->length), 0);
                    got = 0;
                }
                while (got < payload.size())
                    got += m_async.stream.payload(std::span(payload).subspan(got), receive);
            } catch (const tcp_failure& failure) {
                if (failure.kind == tcp_failure::timed_out)
                    continue;
                throw;
            }
            if (!route(*std::exchange(message, std::nullopt), payload))
                return;
        }
    } catch (...) {
        fail(std::current_exception());
    }
}

bool async_router::route(const header& message, std::vector<unsigned char>& payload)
{
    std::optional<short> raised;
    {
        const std::lock_guard guard(m_lock);
        if (message.type == message_type::fatal_error) {
            m_fatal = async_message{message, std::move(payload)};
            m_answered.notify_all();
            return false; // the instrument closes both channels after it
        }
        if (message.type == message_type::async_service_request) {
            m_requests = std::min(m_requests + 1, most_waiting);
        } else if (!m_awaited.empty() &&
                   (message.type == m_awaited.front().expected || message.type == message_type::error)) {
            // Anything else (AsyncInterrupted, what a later version adds) is passed over.
            const awaited answered = m_awaited.front();
            m_awaited.pop_front();
            if (!answered.abandoned && !answered.own) {
                m_reply = async_message{message, std::move(payload)};
                m_answered.notify_all();
            } else if (!answered.abandoned && message.type == message_type::async_status_response) {
                raised = static_cast<short>(message.control);
            }
        }
        ask();
    }
    if (raised)
        m_side.raised(*raised);
    return true;
}

void async_router::ask()
{
    if (m_requests == 0 || !m_awaited.empty())
        return;
    --m_requests;
    const auto until = steady_clock::now() + m_side.patience();
    m_async.send(m_side.status_query(), {}, until);
    m_awaited.push_back({true, message_type::async_status_response, until});
}

void async_router::give_up_late_query()
{
    const std::lock_guard guard(m_lock);
    if (!m_awaited.empty() && m_awaited.front().own && steady_clock::now() >= m_awaited.front().until)
        m_awaited.front().abandoned = true;
}

void async_router::fail(std::exception_ptr why)
{
    const std::lock_guard guard(m_lock);
    m_failure = why;
    m_answered.notify_all();
}

} // namespace morvane::hislip
