#pragma once
// What the sessions over a byte stream share (a raw TCP socket, a serial line): no END on the
// wire, so the termination character (LF, on by default) or a line feed marks where a message
// may end; reads by count and termination character that keep what came for the next call; the
// rest of a message past MaximumMessageSize dropped as it comes; the status byte asked with
// *STB? and the trigger sent as *TRG; a device clear that drops what has arrived.
//
// A kind of stream session derives from stream_session<Kind> and names, besides what
// message_session asks (error_source, negative_timeout), why it takes no service requests:
//     static constexpr const wchar_t* no_requests = L"...";
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>
#include "byte_stream.hpp"
#include "message_session.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"

namespace morvane {

template<typename Kind> class stream_session : public message_session<Kind> {
    using base = message_session<Kind>;

public:
    using base::null_pointer;
    using base::report;

    HRESULT write(SAFEARRAY** buffer, LONG count, LONG* written);
    HRESULT read(LONG count, SAFEARRAY** buffer);
    HRESULT read_string(LONG count, BSTR* text);
    HRESULT last_status(LONG* status) { return base::get(m_last_status, status); }

    HRESULT clear();
    HRESULT read_status_byte(short* status);
    HRESULT assert_trigger();
    // A byte stream has no channel for them: a client can only poll the status byte.
    HRESULT enable_service_requests() { return base::no_service_requests(Kind::no_requests); }
    HRESULT disable_service_requests() { return S_OK; }

protected:
    stream_session(std::unique_ptr<stream::byte_stream> connection, std::wstring resource_name, LONG timeout)
        : base(std::move(resource_name), timeout), m_connection(std::move(connection))
    {}

    using base::handed_out;
    using base::m_lock;
    using base::m_maximum_message_size;
    using base::m_message_read;
    using base::m_termination;
    using base::m_termination_character;
    using base::m_timeout_ms;
    using base::message_room;
    using base::message_too_long;
    using base::read_array;
    using base::read_text;

    stream::deadline until() const
    {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeout_ms);
    }
    HRESULT failed(const stream::failure& failure, const IID& interface_id = IID_IMessage);
    HRESULT send(const unsigned char* bytes, std::size_t count, const IID& interface_id);
    // The next response bytes, at most `count`, into a new array; `stop` ends them after the
    // termination character.
    HRESULT read_bytes(LONG count, bool stop, unique_safearray& bytes);
    // No END: a line feed or the termination character is where a message may end, also for a
    // read that does not stop at it (a block's last byte).
    bool ends_line(unsigned char byte) const { return byte == '\n' || byte == m_termination_character; }
    // Drops what is left of a message that passed MaximumMessageSize, up to where it ends.
    HRESULT discard_rest();
    void consume(std::size_t count);

    std::unique_ptr<stream::byte_stream> m_connection;
    std::vector<unsigned char> m_pending; // arrived, not yet read
    std::size_t m_pending_start = 0;
    LONG m_last_status = session::status_end;
    bool m_lost = false;
    bool m_discarding = false; // the rest of a message too long is still to come
    // A write sent with END ends with the termination character (a serial line's "end out").
    bool m_append_termination = false;
};

template<typename Kind> HRESULT stream_session<Kind>::failed(const stream::failure& failure, const IID& interface_id)
{
    if (failure.kind == stream::failure::timed_out)
        return report(session::timeout_expired, failure.text, interface_id);
    m_lost = true;
    m_connection.reset();
    return report(session::connection_lost, failure.text, interface_id);
}

template<typename Kind>
HRESULT stream_session<Kind>::send(const unsigned char* bytes, std::size_t count, const IID& interface_id)
{
    if (m_lost)
        return report(session::connection_lost, L"The connection to the instrument was lost.", interface_id);
    try {
        m_connection->send_all(bytes, count, until());
    } catch (const stream::failure& failure) {
        return failed(failure, interface_id);
    }
    return S_OK;
}

template<typename Kind> HRESULT stream_session<Kind>::write(SAFEARRAY** buffer, LONG count, LONG* written)
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
        if (m_append_termination && base::m_send_end != VARIANT_FALSE)
            if (const HRESULT hr = send(&m_termination_character, 1, IID_IMessage); FAILED(hr))
                return hr;
        *written = n;
    } catch (const safearray_error&) {
        return report(E_INVALIDARG, L"The array cannot be read.");
    }
    return S_OK;
}

template<typename Kind> void stream_session<Kind>::consume(std::size_t count)
{
    m_pending_start += count;
    if (m_pending_start == m_pending.size())
        m_pending.clear(), m_pending_start = 0;
}

// The rest may arrive for one timeout: an instrument that never ends its message fails the
// read instead of holding it. What is dropped is never held longer than one receive.
template<typename Kind> HRESULT stream_session<Kind>::discard_rest()
{
    const stream::deadline end = until();
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
                throw stream::failure{stream::failure::timed_out, {}};
            m_connection->receive(m_pending, end);
        } catch (const stream::failure& failure) {
            if (failure.kind == stream::failure::timed_out)
                return report(session::timeout_expired,
                              L"The rest of a message longer than MaximumMessageSize did not end "
                              L"within the timeout.");
            m_lost = true;
            m_connection.reset();
        }
    }
}

template<typename Kind> HRESULT stream_session<Kind>::read_bytes(LONG count, bool stop, unique_safearray& bytes)
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
    for (stream::deadline end = until();; end = until()) {
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
                m_last_status = session::status_termination_character;
            }
            searched = window;
        }
        if (take == 0 && held >= wanted) {
            take = wanted;
            m_last_status = session::status_count_reached;
        }
        if (m_lost) {
            if (held == 0)
                return report(session::connection_lost, L"The connection to the instrument was lost.");
            if (take == 0) {
                // What arrived before the connection went is the end of the message.
                take = window;
                m_last_status = session::status_end;
            }
        }
        if (take > message_room()) {
            m_discarding = !session::ends_message(m_last_status) && !ends_line(begin[take - 1]);
            consume(take);
            return message_too_long();
        }
        if (take > 0 || wanted == 0) {
            const bool ended = session::ends_message(m_last_status) || (take > 0 && ends_line(begin[take - 1]));
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
        } catch (const stream::failure& failure) {
            if (failure.kind == stream::failure::timed_out || held == 0)
                return failed(failure);
            m_lost = true;
            m_connection.reset();
        }
    }
}

template<typename Kind> HRESULT stream_session<Kind>::read(LONG count, SAFEARRAY** buffer)
{
    return read_array(
        buffer, [&](unique_safearray& bytes) { return read_bytes(count, m_termination != VARIANT_FALSE, bytes); });
}

template<typename Kind> HRESULT stream_session<Kind>::read_string(LONG count, BSTR* text)
{
    return read_text(text,
                     [&](unique_safearray& bytes) { return read_bytes(count, m_termination != VARIANT_FALSE, bytes); });
}

template<typename Kind> HRESULT stream_session<Kind>::clear()
{
    std::lock_guard guard(m_lock);
    m_pending.clear();
    m_pending_start = 0;
    m_discarding = false;
    handed_out(0, true);
    if (m_lost)
        return report(session::connection_lost, L"The connection to the instrument was lost.", IID_IMorvaneSession);
    // What has arrived by now goes too; nothing is waited for.
    try {
        m_connection->purge();
        for (std::vector<unsigned char> dropped;; dropped.clear())
            m_connection->receive(dropped, std::chrono::steady_clock::now());
    } catch (const stream::failure& failure) {
        if (failure.kind != stream::failure::timed_out)
            return failed(failure, IID_IMorvaneSession);
    }
    return S_OK;
}

// A raw socket has no status byte of its own: the instrument is asked for it.
template<typename Kind> HRESULT stream_session<Kind>::read_status_byte(short* status)
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
    const LONG maximum_before = std::exchange(m_maximum_message_size, session::default_maximum_message_size);
    std::string answer;
    constexpr LONG longest_answer = 64;
    HRESULT hr = S_OK;
    do {
        unique_safearray bytes;
        if (hr = read_bytes(longest_answer, true, bytes); FAILED(hr))
            break;
        answer.append(static_cast<const char*>(bytes->pvData), bytes->rgsabound[0].cElements);
    } while (m_last_status == session::status_count_reached && answer.size() <= longest_answer);
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

template<typename Kind> HRESULT stream_session<Kind>::assert_trigger()
{
    std::lock_guard guard(m_lock);
    static constexpr unsigned char command[] = {'*', 'T', 'R', 'G', '\n'};
    return send(command, sizeof command, IID_IMorvaneSession);
}

} // namespace morvane
