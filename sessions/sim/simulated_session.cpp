#include "sim/simulated_session.hpp"

// The session side: messages ended by a line feed or END, the response handed out by count and
// termination character, the timeout, the session properties and COM's object rules; the
// status model's time, its timer and the hook for requests for service.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>
#include "message_session.hpp"
#include "session_codes.hpp"
#include "sim/com_transfer.hpp"
#include "sim/message_end.hpp"
#include "sim/scpi_model.hpp"

namespace morvane::sim {
namespace {

using namespace ::morvane::session;

constexpr std::size_t max_message_bytes = 24u << 20; // a full REAL,64 trace and its header fit

bool is_white_space(char c) { return static_cast<unsigned char>(c) <= 0x20; }

class simulated_session : public message_session<simulated_session> {
public:
    static constexpr const wchar_t* error_source = sim::error_source;
    static constexpr const wchar_t* negative_timeout = L"The timeout cannot be negative.";

    simulated_session(std::uint32_t seed, std::wstring resource_name, LONG timeout_ms,
                      std::shared_ptr<memory_budget> budget)
        : message_session(std::move(resource_name), timeout_ms), m_model(seed), m_held(std::move(budget))
    {
        m_model.limit_holding(
            [this](std::size_t model_bytes) { return m_held.resize(m_message.capacity() + model_bytes); });
    }

    ~simulated_session() override
    {
        {
            const std::lock_guard guard(m_lock);
            m_stopping = true;
        }
        m_timer_wake.notify_all();
        if (!m_timer.joinable())
            return;
        if (m_timer.get_id() != std::this_thread::get_id()) {
            m_timer.join(); // after any hook it is calling: none comes once Release returns
            return;
        }
        // Released by its own hook: the timer's thread ends as the hook returns, touching nothing.
        *m_timer_gone = true;
        m_timer.detach();
    }

    void on_service_request(std::function<void(std::uint8_t)> raised)
    {
        const std::lock_guard guard(m_lock);
        m_hook = std::move(raised);
    }

    bool response_ready()
    {
        const std::lock_guard guard(m_lock);
        return answer_pending();
    }
    bool response_held()
    {
        const std::lock_guard guard(m_lock);
        return unread() && m_model.response_held();
    }
    std::size_t response_left()
    {
        const std::lock_guard guard(m_lock);
        return m_response.size() - m_sent;
    }

    HRESULT write(SAFEARRAY** buffer, LONG count, LONG* written)
    {
        if (!buffer || !*buffer || !written)
            return report(E_POINTER, L"A required pointer is null.");
        *written = 0;
        std::string bytes;
        if (const HRESULT hr = bytes_of(*buffer, count, bytes); FAILED(hr))
            return hr;
        std::unique_lock guard(m_lock);
        accept(bytes, m_send_end != VARIANT_FALSE);
        *written = count;
        signal(guard);
        return S_OK;
    }

    HRESULT read(LONG count, SAFEARRAY** buffer)
    {
        if (!buffer)
            return report(E_POINTER, L"A required pointer is null.");
        *buffer = nullptr;
        return receive(count, [buffer](std::string_view bytes) { return new_byte_array(bytes, buffer); });
    }

    HRESULT read_string(LONG count, BSTR* text)
    {
        if (!text)
            return report(E_POINTER, L"A required pointer is null.");
        *text = nullptr;
        return receive(count, [text](std::string_view bytes) { return new_string(bytes, text); });
    }

    HRESULT last_status(LONG* status) { return get(m_last_status, status); }

    // Device clear: the message being received and the unread response are dropped.
    // The status registers are the instrument's and stay as they are.
    HRESULT clear()
    {
        std::unique_lock guard(m_lock);
        m_message.clear();
        m_receiving = m_message_overflow = false;
        m_end.reset();
        m_response.clear();
        m_sent = 0;
        signal(guard);
        return S_OK;
    }

    // A serial poll: RQS is read and cleared.
    HRESULT read_status_byte(short* status)
    {
        if (!status)
            return report(E_POINTER, L"A required pointer is null.", IID_IMorvaneSession);
        std::unique_lock guard(m_lock);
        settle();
        *status = m_model.serial_poll(answer_pending());
        signal(guard);
        return S_OK;
    }

    HRESULT assert_trigger()
    {
        const std::lock_guard guard(m_lock);
        m_model.trigger();
        return S_OK;
    }

    // The instrument raises its requests inside the process: nothing to start or stop.
    HRESULT enable_service_requests() { return S_OK; }
    HRESULT disable_service_requests() { return S_OK; }

private:
    using clock = scpi_model::clock;

    bool unread() const { return m_sent < m_response.size(); }
    // A response held for an *OPC? is not ready to read until the acquisition ends.
    bool answer_pending() const { return unread() && !m_model.response_held(); }

    // Under the lock: the model brought to the present, and what that changed made known.
    void settle()
    {
        m_model.advance(clock::now());
        m_model.update_service(answer_pending());
        if (answer_pending())
            m_answered.notify_all();
    }

    // Ends a call under the lock: the timer set for the acquisition under way, and the hook
    // called for each request for service that rose, after the lock is released, since the
    // hook may call the session.
    void signal(std::unique_lock<std::mutex>& guard)
    {
        settle();
        if (m_model.done_at()) {
            if (!m_timer.joinable())
                m_timer = std::thread([this, gone = m_timer_gone] { run_timer(gone); });
            m_timer_wake.notify_all();
        }
        const std::vector<std::uint8_t> raised = m_model.take_requests();
        if (raised.empty())
            return;
        // A client that takes requests has the status byte read with each, as a controller's
        // serial poll does, which clears RQS.
        if (service_requests_enabled())
            m_model.serial_poll(answer_pending());
        const auto hook = m_hook;
        guard.unlock();
        for (const std::uint8_t status_byte : raised)
            raise_service_request(status_byte);
        if (hook)
            call(hook, raised);
    }

    static void call(const std::function<void(std::uint8_t)>& hook, const std::vector<std::uint8_t>& raised) noexcept
    {
        try {
            for (const std::uint8_t status_byte : raised)
                hook(status_byte);
        } catch (...) {
            // Neither the timer's thread nor a client's call has anyone to give it to.
        }
    }

    // Completes each acquisition when its time comes, whether or not the client calls.
    void run_timer(const std::shared_ptr<bool>& gone)
    {
        std::unique_lock guard(m_lock);
        while (!m_stopping) {
            const auto due = m_model.done_at();
            if (!due)
                m_timer_wake.wait(guard);
            else if (clock::now() < *due)
                m_timer_wake.wait_until(guard, *due);
            else {
                signal(guard);
                if (*gone)
                    return;
                if (!guard.owns_lock())
                    guard.lock();
            }
        }
    }

    // Bytes off the bus: a message runs at its line feed, or when END comes with the bytes.
    void accept(std::string_view bytes, bool end)
    {
        while (!bytes.empty()) {
            const std::size_t length = m_end.find(bytes);
            take(bytes.substr(0, length));
            if (length == std::string_view::npos)
                break;
            bytes.remove_prefix(length);
            finish();
        }
        if (end) {
            finish();
            m_end.reset();
        }
    }

    // Part of a message. White space before a message starts none: a lone line feed is no
    // message and interrupts no response.
    void take(std::string_view bytes)
    {
        if (!m_receiving) {
            while (!bytes.empty() && is_white_space(bytes.front()))
                bytes.remove_prefix(1);
            if (bytes.empty())
                return;
            m_receiving = true;
            if (unread()) {
                m_model.report(scpi::query_interrupted); // a new message while a response is unread
                m_response.clear();
                m_sent = 0;
            }
        }
        if (m_message_overflow)
            return; // the rest of an over-long message is dropped as it arrives
        const std::size_t needed = m_message.size() + bytes.size();
        // Grown by doubling, each step asked of the budget first (a vector takes exactly the
        // room it is asked for, so what the budget is told is what is held).
        const std::size_t capacity = std::min(std::max(needed, 2 * m_message.capacity()), max_message_bytes);
        if (needed > max_message_bytes || (needed > m_message.capacity() && !hold(capacity))) {
            m_message_overflow = true;
            m_message.clear();
            return;
        }
        if (needed > m_message.capacity())
            m_message.reserve(capacity);
        m_message.insert(m_message.end(), bytes.begin(), bytes.end());
    }

    // Tells the budget what the session holds with room for `message_capacity` bytes of message.
    bool hold(std::size_t message_capacity)
    {
        return m_held.resize(message_capacity + m_response.capacity() + m_model.stored_bytes());
    }

    // The message that was being received ends.
    void finish()
    {
        if (!m_receiving)
            return;
        m_model.advance(clock::now()); // INITiate counts from here
        if (m_message_overflow)
            m_model.report(scpi::too_much_data);
        else
            m_model.execute(std::string_view(m_message.data(), m_message.size()), m_response);
        m_sent = 0;
        m_message.clear();
        m_receiving = m_message_overflow = false;
        hold(m_message.capacity());
    }

    // Waits up to the timeout for a response, then hands at most `count` bytes of it to
    // `deliver`; the bytes count as read only when it succeeds. A message that would pass
    // MaximumMessageSize fails the read, and the rest of the response is dropped.
    HRESULT receive(LONG count, const std::function<HRESULT(std::string_view)>& deliver)
    {
        if (count < 1)
            return report(E_INVALIDARG, L"The count must be at least 1.");
        std::unique_lock guard(m_lock);
        const HRESULT hr = receive_locked(count, deliver, guard);
        signal(guard);
        return hr;
    }

    HRESULT receive_locked(LONG count, const std::function<HRESULT(std::string_view)>& deliver,
                           std::unique_lock<std::mutex>& guard)
    {
        if (!m_answered.wait_for(guard, std::chrono::milliseconds(m_timeout_ms), [this] { return answer_pending(); })) {
            if (!unread()) // a response held for *OPC? is still coming
                m_model.report(scpi::query_unterminated);
            return report(timeout_expired, L"Timeout expired before operation completed.");
        }
        std::size_t taken = std::min(static_cast<std::size_t>(count), m_response.size() - m_sent);
        LONG status = m_sent + taken == m_response.size() ? status_end : status_count_reached;
        // Only the bytes this read may take are searched: a long response is read in many reads.
        const std::string_view available = std::string_view(m_response).substr(m_sent, taken);
        const std::size_t line_feed =
            m_termination ? available.find(static_cast<char>(m_termination_character)) : std::string_view::npos;
        if (line_feed != std::string_view::npos && m_sent + line_feed + 1 < m_response.size()) {
            taken = line_feed + 1;
            status = status_termination_character;
        }
        if (m_sent == 0)
            handed_out(0, true); // a response is a message of its own, whatever was left unread
        if (taken > message_room()) {
            // The whole response is here: the rest of the message goes at once.
            m_response.clear();
            m_sent = 0;
            return message_too_long();
        }
        if (const HRESULT hr = deliver(available.substr(0, taken)); FAILED(hr))
            return hr;
        m_sent += taken;
        m_last_status = status;
        handed_out(taken, ends_message(status));
        if (!answer_pending()) {
            m_response.clear();
            m_sent = 0;
        }
        return S_OK;
    }

    std::condition_variable m_answered;
    scpi_model m_model;
    std::vector<char> m_message; // received so far, waiting for its end
    bool m_receiving = false;    // a message has started
    bool m_message_overflow = false;
    message_end m_end;
    budget_share m_held; // what the session holds for its client, messages, responses and data
    std::string m_response;
    std::size_t m_sent = 0; // bytes of the response already read
    LONG m_last_status = status_end;
    std::function<void(std::uint8_t)> m_hook;
    bool m_stopping = false;
    std::condition_variable m_timer_wake;
    // Set when the session is destroyed by its own hook on the timer's thread, which the thread
    // then finds in its own copy of the pointer.
    std::shared_ptr<bool> m_timer_gone = std::make_shared<bool>(false);
    std::thread m_timer; // started by the first acquisition that takes time, ended with the session
};

} // namespace

Microsoft::WRL::ComPtr<IMessage> create_simulated_session(std::uint32_t seed, std::wstring_view resource_name,
                                                          LONG timeout_ms, std::shared_ptr<memory_budget> budget)
{
    try {
        return com_object<simulated_session>::make<IMessage>(seed, std::wstring(resource_name), timeout_ms,
                                                             std::move(budget));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool response_ready(IMessage* session)
{
    auto* simulated = dynamic_cast<simulated_session*>(session);
    return simulated && simulated->response_ready();
}

std::size_t response_left(IMessage* session)
{
    auto* simulated = dynamic_cast<simulated_session*>(session);
    return simulated ? simulated->response_left() : 0;
}

bool response_held(IMessage* session)
{
    auto* simulated = dynamic_cast<simulated_session*>(session);
    return simulated && simulated->response_held();
}

void on_service_request(IMessage* session, std::function<void(std::uint8_t status_byte)> raised)
{
    if (auto* simulated = dynamic_cast<simulated_session*>(session))
        simulated->on_service_request(std::move(raised));
}

} // namespace morvane::sim
