#include "socket/socket_session.hpp"

#include <oleauto.h>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>
#include "message_session.hpp"
#include "platform/bstr.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "socket/socket_resource_name.hpp"
#include "transport/tcp_connection.hpp"

namespace morvane::socket_session {
namespace {

using namespace ::morvane::session;
using transport::deadline;
using transport::tcp_connection;
using transport::tcp_failure;

class socket_session : public message_session<socket_session> {
public:
    static constexpr const wchar_t* error_source = L"Morvane TCP socket session";
    static constexpr const wchar_t* negative_timeout = L"The timeout must not be negative.";

    socket_session(std::unique_ptr<tcp_connection> connection, std::wstring resource_name, LONG timeout)
        : message_session(std::move(resource_name), timeout), m_connection(std::move(connection))
    {}

    HRESULT write(SAFEARRAY** buffer, LONG count, LONG* written);
    HRESULT read(LONG count, SAFEARRAY** buffer);
    HRESULT read_string(LONG count, BSTR* text);
    HRESULT last_status(LONG* status) { return get(m_last_status, status); }

    HRESULT clear();
    HRESULT read_status_byte(short* status);
    HRESULT assert_trigger();
    // A raw socket has no channel for them: a client can only poll the status byte.
    HRESULT enable_service_requests()
    {
        return no_service_requests(L"A TCP socket session has no channel for service requests; poll *STB? instead.");
    }
    HRESULT disable_service_requests() { return S_OK; }

private:
    deadline until() const { return std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeout_ms); }
    HRESULT failed(const tcp_failure& failure, const IID& interface_id = IID_IMessage);
    HRESULT send(const unsigned char* bytes, std::size_t count, const IID& interface_id);
    // The next response bytes, at most `count`, into a new array; `stop` ends them after the
    // termination character.
    HRESULT read_bytes(LONG count, bool stop, unique_safearray& bytes);
    // A raw socket has no END: a line feed or the termination character is where a message
    // may end, also for a read that does not stop at it (a block's last byte).
    bool ends_line(unsigned char byte) const { return byte == '\n' || byte == m_termination_character; }
    // Drops what is left of a message that passed MaximumMessageSize, up to where it ends.
    HRESULT discard_rest();
    void consume(std::size_t count);

    std::unique_ptr<tcp_connection> m_connection;
    std::vector<unsigned char> m_pending; // arrived, not yet read
    std::size_t m_pending_start = 0;
    LONG m_last_status = status_end;
    bool m_lost = false;
    bool m_discarding = false; // the rest of a message too long is still to come
};

HRESULT socket_session::failed(const tcp_failure& failure, const IID& interface_id)
{
    if (failure.kind == tcp_failure::timed_out)
        return report(timeout_expired, failure.text, interface_id);
    m_lost = true;
    m_connection.reset();
    return report(connection_lost, failure.text, interface_id);
}

HRESULT socket_session::send(const unsigned char* bytes, std::size_t count, const IID& interface_id)
{
    if (m_lost)
        return report(connection_lost, L"The connection to the instrument was lost.", interface_id);
    try {
        m_connection->send_all(bytes, count, until());
    } catch (const tcp_failure& failure) {
        return failed(failure, interface_id);
    }
    return S_OK;
}

HRESULT socket_session::write(SAFEARRAY** buffer, LONG count, LONG* written)
{
    if (!buffer || !*buffer || !written)
        return null_pointer();
    std::lock_guard guard(m_lock);
    *written = 0;
    if (SafeArrayGetDim(*buffer) != 1 || SafeArrayGetElemsize(*buffer) != 1 || count < 0)
        return report(E_INVALIDARG, L"Write takes a one-dimensional array of bytes.");
    const LONG size = static_cast<LONG>((*buffer)->rgsabound[0].cElements);
    const LONG n = std::min(count, size);
    try {
        const safearray_data data(*buffer);
        if (const HRESULT hr = send(data.bytes(), static_cast<std::size_t>(n), IID_IMessage); FAILED(hr))
            return hr;
        *written = n;
    } catch (const safearray_error&) {
        return report(E_INVALIDARG, L"The array cannot be read.");
    }
    return S_OK;
}

void socket_session::consume(std::size_t count)
{
    m_pending_start += count;
    if (m_pending_start == m_pending.size())
        m_pending.clear(), m_pending_start = 0;
}

// The rest may arrive for one timeout: an instrument that never ends its message fails the
// read instead of holding it. What is dropped is never held longer than one receive.
HRESULT socket_session::discard_rest()
{
    const deadline end = until();
    for (;;) {
        const auto begin = m_pending.begin() + static_cast<std::ptrdiff_t>(m_pending_start);
        const auto stop = std::find_if(begin, m_pending.end(), [this](unsigned char byte) { return ends_line(byte); });
        if (stop != m_pending.end() || m_lost) {
            consume(stop == m_pending.end() ? m_pending.size() - m_pending_start
                                            : static_cast<std::size_t>(stop - begin) + 1);
            m_discarding = false; // the close ends a message too
            return S_OK;
        }
        m_pending.clear();
        m_pending_start = 0;
        try {
            // A wait ends at the deadline only when nothing arrives: a stream is timed here.
            if (std::chrono::steady_clock::now() >= end)
                throw tcp_failure{tcp_failure::timed_out, {}};
            m_connection->receive(m_pending, end);
        } catch (const tcp_failure& failure) {
            if (failure.kind == tcp_failure::timed_out)
                return report(timeout_expired, L"The rest of a message longer than MaximumMessageSize did not end "
                                               L"within the timeout.");
            m_lost = true;
            m_connection.reset();
        }
    }
}

HRESULT socket_session::read_bytes(LONG count, bool stop, unique_safearray& bytes)
{
    if (count < 0)
        return report(E_INVALIDARG, L"The count must not be negative.");
    if (m_discarding)
        if (const HRESULT hr = discard_rest(); FAILED(hr))
            return hr;
    // One byte past the room is enough to know that the message is too long; no more is held.
    const std::size_t wanted = std::min(static_cast<std::size_t>(count), message_room() + 1);
    std::size_t searched = 0;
    // Every wait has the whole timeout: a response that keeps arriving is not cut off.
    for (deadline end = until();; end = until()) {
        const unsigned char* begin = m_pending.data() + m_pending_start;
        const std::size_t held = m_pending.size() - m_pending_start;
        const std::size_t window = std::min(held, wanted);
        std::size_t take = 0;
        if (stop && window > searched) {
            // The termination character ends the read, also as the count-th byte. (memchr
            // takes no null pointer, even for no bytes, and nothing may have arrived yet.)
            const auto* lf = static_cast<const unsigned char*>(
                std::memchr(begin + searched, m_termination_character, window - searched));
            if (lf) {
                take = static_cast<std::size_t>(lf - begin) + 1;
                m_last_status = status_termination_character;
            }
            searched = window;
        }
        if (take == 0 && held >= wanted) {
            take = wanted;
            m_last_status = status_count_reached;
        }
        if (m_lost) {
            if (held == 0)
                return report(connection_lost, L"The connection to the instrument was lost.");
            if (take == 0) {
                // What arrived before the connection went is the end of the message.
                take = window;
                m_last_status = status_end;
            }
        }
        if (take > message_room()) {
            m_discarding = !ends_message(m_last_status) && !ends_line(begin[take - 1]);
            consume(take);
            return message_too_long();
        }
        if (take > 0 || wanted == 0) {
            const bool ended = ends_message(m_last_status) || (take > 0 && ends_line(begin[take - 1]));
            bytes.reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(take)));
            if (!bytes)
                return report(E_OUTOFMEMORY, L"Not enough memory for the bytes read.");
            if (take > 0)
                std::memcpy(bytes->pvData, begin, take);
            handed_out(take, ended);
            consume(take);
            return S_OK;
        }
        // Bytes that arrived before a timeout or a lost connection stay for the next read.
        try {
            if (m_pending_start > 0 && m_pending_start * 2 > m_pending.size()) {
                m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_pending_start));
                m_pending_start = 0;
            }
            m_connection->receive(m_pending, end);
        } catch (const tcp_failure& failure) {
            if (failure.kind == tcp_failure::timed_out || held == 0)
                return failed(failure);
            m_lost = true;
            m_connection.reset();
        }
    }
}

HRESULT socket_session::read(LONG count, SAFEARRAY** buffer)
{
    return read_array(
        buffer, [&](unique_safearray& bytes) { return read_bytes(count, m_termination != VARIANT_FALSE, bytes); });
}

HRESULT socket_session::read_string(LONG count, BSTR* text)
{
    return read_text(text,
                     [&](unique_safearray& bytes) { return read_bytes(count, m_termination != VARIANT_FALSE, bytes); });
}

HRESULT socket_session::clear()
{
    std::lock_guard guard(m_lock);
    m_pending.clear();
    m_pending_start = 0;
    m_discarding = false;
    handed_out(0, true);
    if (m_lost)
        return report(connection_lost, L"The connection to the instrument was lost.", IID_IMorvaneSession);
    // What has arrived by now goes too; nothing is waited for.
    try {
        for (std::vector<unsigned char> dropped;; dropped.clear())
            m_connection->receive(dropped, std::chrono::steady_clock::now());
    } catch (const tcp_failure& failure) {
        if (failure.kind != tcp_failure::timed_out)
            return failed(failure, IID_IMorvaneSession);
    }
    return S_OK;
}

// A raw socket has no status byte of its own: the instrument is asked for it.
HRESULT socket_session::read_status_byte(short* status)
{
    if (!status)
        return null_pointer(IID_IMorvaneSession);
    *status = 0;
    std::lock_guard guard(m_lock);
    static constexpr unsigned char query[] = {'*', 'S', 'T', 'B', '?', '\n'};
    if (const HRESULT hr = send(query, sizeof query, IID_IMorvaneSession); FAILED(hr))
        return hr;
    // The answer is not the client's read: neither its status nor its message's count changes,
    // and the client's MaximumMessageSize does not apply to it.
    const LONG status_before = m_last_status;
    const std::size_t read_before = m_message_read;
    const LONG maximum_before = std::exchange(m_maximum_message_size, default_maximum_message_size);
    std::string answer;
    constexpr LONG longest_answer = 64;
    HRESULT hr = S_OK;
    do {
        unique_safearray bytes;
        if (hr = read_bytes(longest_answer, true, bytes); FAILED(hr))
            break;
        answer.append(static_cast<const char*>(bytes->pvData), bytes->rgsabound[0].cElements);
    } while (m_last_status == status_count_reached && answer.size() <= longest_answer);
    m_last_status = status_before;
    m_message_read = read_before;
    m_maximum_message_size = maximum_before;
    if (FAILED(hr))
        return hr;
    const auto first = answer.find_first_not_of(" \t");
    const auto last = answer.find_last_not_of(" \t\r\n");
    int value = -1;
    const char* const begin = answer.data() + (first == std::string::npos ? answer.size() : first);
    const char* const end = answer.data() + (last == std::string::npos ? 0 : last + 1);
    if (first == std::string::npos || std::from_chars(begin + (*begin == '+'), end, value).ptr != end || value < 0 ||
        value > 255)
        return report(E_FAIL, L"The instrument's answer to *STB? is not a status byte.", IID_IMorvaneSession);
    *status = static_cast<short>(value);
    return S_OK;
}

HRESULT socket_session::assert_trigger()
{
    std::lock_guard guard(m_lock);
    static constexpr unsigned char command[] = {'*', 'T', 'R', 'G', '\n'};
    return send(command, sizeof command, IID_IMorvaneSession);
}

} // namespace

HRESULT open_socket_session(const socket_address& address, std::wstring_view resource_name, LONG timeout_ms,
                            IMessage** session)
{
    if (!session)
        return socket_session::null_pointer();
    *session = nullptr;
    try {
        auto connection = std::make_unique<tcp_connection>(
            address.host, address.port, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms));
        *session =
            com_object<socket_session>::make<IMessage>(std::move(connection), std::wstring(resource_name), timeout_ms)
                .Detach();
        return S_OK;
    } catch (const tcp_failure& failure) {
        return socket_session::report(resource_not_found, failure.text);
    } catch (const std::bad_alloc&) {
        return socket_session::report(E_OUTOFMEMORY, L"Not enough memory to open the session.");
    }
}

} // namespace morvane::socket_session
