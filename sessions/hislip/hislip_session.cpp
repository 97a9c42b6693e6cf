#include "hislip/hislip_session.hpp"

#include <oleauto.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include "hislip/async_router.hpp"
#include "hislip/hislip_messages.hpp"
#include "locking_session.hpp"
#include "platform/ansi.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "transport/tcp_connection.hpp"

namespace morvane::hislip {
namespace {

using namespace ::morvane::session;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
using transport::deadline;
using transport::tcp_connection;
using transport::tcp_failure;

// A protocol reply may come this long after the session's own timeout.
constexpr milliseconds reply_grace{1000};
// "MV": the vendor ID that Initialize sends.
constexpr std::uint32_t vendor_id = 'M' << 8 | 'V';
constexpr std::size_t no_end = static_cast<std::size_t>(-1);

// Whether message ID `id` was sent before `first` (IDs wrap).
bool before(std::uint32_t id, std::uint32_t first) { return static_cast<std::int32_t>(id - first) < 0; }

class hislip_session : public locking_session<hislip_session> {
public:
    static constexpr const wchar_t* error_source = L"Morvane HiSLIP session";
    static constexpr const wchar_t* negative_timeout = L"The timeout must not be negative.";

    hislip_session(std::wstring resource_name, LONG timeout) : locking_session(std::move(resource_name), timeout)
    {
        m_termination = VARIANT_FALSE;
    }

    // Opens both channels and agrees the message sizes, replies awaited until `until`.
    HRESULT connect(const hislip_address& address, deadline until);

    HRESULT write(SAFEARRAY** buffer, LONG count, LONG* written);
    HRESULT read(LONG count, SAFEARRAY** buffer);
    HRESULT read_string(LONG count, BSTR* text);
    HRESULT last_status(LONG* status) { return get(m_last_status, status); }

    HRESULT clear();
    HRESULT read_status_byte(short* status);
    HRESULT assert_trigger();
    HRESULT enable_service_requests();
    HRESULT disable_service_requests();

    HRESULT lock(LONG timeout_ms, std::wstring_view shared_name);
    HRESULT unlock();

private:
    deadline until() const { return steady_clock::now() + milliseconds(m_timeout_ms); }
    deadline reply_until() const { return until() + reply_grace; }
    // The control code of a message that carries RMT-delivered, which it then has delivered.
    std::uint8_t take_rmt() { return m_rmt_delivered.exchange(false) ? rmt_delivered : 0; }
    std::uint32_t take_message_id() { return m_next_id.fetch_add(2); }
    // The router's thread stopped; the answers still owed to its status queries are passed over.
    void stop_router() noexcept;

    // What went wrong in the middle of an exchange. A timeout while data are awaited loses
    // nothing; anywhere else the channels no longer agree, and the session ends.
    HRESULT failed(const tcp_failure& failure, bool awaiting_data, const IID& interface_id);
    HRESULT broken(const protocol_error& error, const IID& interface_id);
    // The channels are closed and every later call fails at once.
    void close() noexcept;
    HRESULT lost(const std::wstring& text, const IID& interface_id);
    // The instrument's Error or FatalError, read whole from `from`.
    HRESULT instrument_error(channel& from, const header& message, const IID& interface_id);
    HRESULT instrument_error(const header& message, std::span<const unsigned char> payload, const IID& interface_id);
    HRESULT precondition(const IID& interface_id);

    // The next reply of type `expected` on the asynchronous channel, read here while service
    // requests are disabled; what the instrument sends unasked there (AsyncInterrupted,
    // AsyncServiceRequest) is passed over, and so are the answers owed to the router's queries.
    HRESULT async_reply(message_type expected, header& reply, const IID& interface_id, deadline until);
    // A request on the asynchronous channel and its reply.
    HRESULT async_exchange(const header& request, std::string_view payload, message_type expected, header& reply,
                           const IID& interface_id, deadline until);
    // Receives the next bytes of a response into the pending buffer.
    HRESULT receive_response(deadline until);
    void drop_pending();
    HRESULT read_bytes(LONG count, bool stop, unique_safearray& bytes);
    // Drops what is left of a message that passed MaximumMessageSize, up to its END.
    HRESULT discard_rest();

    channel m_sync, m_async;
    // While service requests are enabled, the only reader of m_async; gone before the channels.
    std::unique_ptr<async_router> m_router;
    unsigned m_owed_status = 0; // AsyncStatusResponses that answer the router's stopped queries
    // What the router's own status queries wait for, as it was at the session's last call: the
    // router does not take the session's lock, which a call may hold for long.
    std::atomic<LONG> m_router_timeout{0};
    bool m_overlapped = false;
    bool m_lost = false;
    std::uint64_t m_largest_payload = client_maximum_message_size; // of what the session sends
    // Atomic, for the router's status queries: the last ID sent and RMT-delivered.
    std::atomic<std::uint32_t> m_next_id{first_message_id};
    std::uint32_t m_message_start = first_message_id; // the ID that began the last message sent
    bool m_message_open = false;                      // the last write had no END
    std::atomic<bool> m_rmt_delivered{false};
    // Responses received and not yet read: bytes [m_start, m_filled) of m_pending, the message
    // ending at m_end when its DataEND has come.
    std::vector<unsigned char> m_pending;
    std::size_t m_start = 0, m_filled = 0, m_end = no_end;
    bool m_in_data = false; // a Data or DataEND payload is coming
    bool m_data_ends = false;
    bool m_discarding = false;
    LONG m_last_status = status_end;
};

void hislip_session::stop_router() noexcept
{
    if (m_router)
        m_owed_status += m_router->stop();
    m_router.reset();
}

void hislip_session::close() noexcept
{
    stop_router();
    m_lost = true;
    m_sync.connection.reset();
    m_async.connection.reset();
}

HRESULT hislip_session::lost(const std::wstring& text, const IID& interface_id)
{
    close();
    return report(connection_lost, text, interface_id);
}

HRESULT hislip_session::failed(const tcp_failure& failure, bool awaiting_data, const IID& interface_id)
{
    if (failure.kind != tcp_failure::timed_out)
        return lost(failure.text, interface_id);
    if (awaiting_data)
        return report(timeout_expired, failure.text, interface_id);
    close();
    return report(timeout_expired,
                  L"The instrument did not answer within the timeout and a second; the session is closed.",
                  interface_id);
}

HRESULT hislip_session::broken(const protocol_error& error, const IID& interface_id)
{
    // The instrument is told why, as far as it still listens.
    try {
        const std::string text = error.what();
        m_sync.send({message_type::fatal_error, error.fatal_code, 0, text.size()},
                    std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                    steady_clock::now() + milliseconds(100));
    } catch (const tcp_failure&) {}
    return lost(L"The instrument broke the HiSLIP protocol: " + widened(error.what()) + L".", interface_id);
}

HRESULT hislip_session::instrument_error(channel& from, const header& message, const IID& interface_id)
{
    return instrument_error(message, from.small_payload(message, reply_until()), interface_id);
}

HRESULT hislip_session::instrument_error(const header& message, std::span<const unsigned char> payload,
                                         const IID& interface_id)
{
    const std::wstring text = widened(std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()));
    const std::wstring code = std::to_wstring(message.control);
    if (message.type == message_type::fatal_error)
        return lost(L"The instrument ended the session with HiSLIP FatalError " + code + (text.empty() ? L"" : L": ") +
                        text + L".",
                    interface_id);
    return report(device_error_reported,
                  L"The instrument reported HiSLIP Error " + code + (text.empty() ? L"" : L": ") + text + L".",
                  interface_id);
}

HRESULT hislip_session::precondition(const IID& interface_id)
{
    m_router_timeout = m_timeout_ms;
    return m_lost ? report(connection_lost, L"The connection to the instrument was lost.", interface_id) : S_OK;
}

HRESULT hislip_session::connect(const hislip_address& address, deadline until)
{
    const auto refused = [](const std::wstring& text) { return report(resource_not_found, text); };
    try {
        m_sync.connection = std::make_unique<tcp_connection>(address.host, address.port, until);
        const std::string& sub_address = address.sub_address;
        m_sync.send({message_type::initialize, 0, std::uint32_t{version_1_0} << 16 | vendor_id, sub_address.size()},
                    std::span(reinterpret_cast<const unsigned char*>(sub_address.data()), sub_address.size()), until);
        const auto answer = [&](channel& on, message_type expected) {
            const header reply = on.next(until);
            const std::vector<unsigned char> payload = on.small_payload(reply, until);
            if (reply.type == message_type::fatal_error)
                throw tcp_failure{
                    tcp_failure::unreachable,
                    L"The instrument refused the session with HiSLIP FatalError " + std::to_wstring(reply.control) +
                        L": " +
                        widened(std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size())) +
                        L"."};
            if (reply.type != expected)
                throw tcp_failure{tcp_failure::unreachable,
                                  L"The instrument answered " +
                                      widened(type_name(static_cast<std::uint8_t>(reply.type))) + L" where " +
                                      widened(type_name(static_cast<std::uint8_t>(expected))) + L" belongs."};
            return std::pair(reply, payload);
        };
        const header initialized = answer(m_sync, message_type::initialize_response).first;
        m_overlapped = (initialized.control & overlapped) != 0;
        m_async.connection = std::make_unique<tcp_connection>(address.host, address.port, until);
        m_async.send({message_type::async_initialize, 0, initialized.parameter & 0xFFFF, 0}, {}, until);
        answer(m_async, message_type::async_initialize_response);
        const auto size = encode_size(client_maximum_message_size);
        m_async.send({message_type::async_maximum_message_size, 0, 0, size.size()}, size, until);
        const auto [sized, payload] = answer(m_async, message_type::async_maximum_message_size_response);
        const std::optional<std::uint64_t> maximum = decode_size(payload);
        if (!maximum || *maximum == 0)
            return refused(L"The instrument's AsyncMaximumMessageSizeResponse does not hold a size.");
        // Whether the size counts the header is read both ways: a message is sent so that
        // it fits under either reading.
        m_largest_payload = *maximum > header_size ? *maximum - header_size : 1;
        return S_OK;
    } catch (const tcp_failure& failure) {
        return refused(failure.kind == tcp_failure::timed_out
                           ? L"The instrument did not open the HiSLIP session within the timeout."
                           : failure.text);
    } catch (const protocol_error& error) {
        return refused(L"The instrument broke the HiSLIP protocol: " + widened(error.what()) + L".");
    }
}

HRESULT hislip_session::write(SAFEARRAY** buffer, LONG count, LONG* written)
{
    if (!buffer || !*buffer || !written)
        return null_pointer();
    std::lock_guard guard(m_lock);
    *written = 0;
    if (SafeArrayGetDim(*buffer) != 1 || SafeArrayGetElemsize(*buffer) != 1 || count < 0)
        return report(E_INVALIDARG, L"Write takes a one-dimensional array of bytes.");
    const std::size_t n =
        static_cast<std::size_t>(std::min(count, static_cast<LONG>((*buffer)->rgsabound[0].cElements)));
    const bool end = m_send_end != VARIANT_FALSE;
    if (n == 0 && !end)
        return S_OK;
    if (const HRESULT hr = precondition(IID_IMessage); FAILED(hr))
        return hr;
    if (!m_message_open) {
        m_message_start = m_next_id;
        // In synchronized mode a new message makes the instrument drop what is left of the last
        // response; its bytes still on the way are known by their IDs.
        if (!m_overlapped)
            drop_pending();
    }
    m_discarding = false;
    try {
        const safearray_data data(*buffer);
        std::size_t done = 0;
        do {
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, m_largest_payload));
            const bool last = done + piece == n;
            m_sync.send(
                {last && end ? message_type::data_end : message_type::data, take_rmt(), take_message_id(), piece},
                std::span(data.bytes() + done, piece), until());
            done += piece;
            *written = static_cast<LONG>(done);
        } while (done < n);
        m_message_open = !end;
    } catch (const safearray_error&) {
        return report(E_INVALIDARG, L"The array cannot be read.");
    } catch (const tcp_failure& failure) {
        // Part of a message has gone: what follows cannot be told from it.
        if (failure.kind != tcp_failure::timed_out)
            return lost(failure.text, IID_IMessage);
        close();
        return report(timeout_expired, L"The instrument took no more of the message within the timeout; the session "
                                       L"is closed.");
    }
    return S_OK;
}

void hislip_session::drop_pending()
{
    m_start = m_filled = 0;
    m_end = no_end;
    m_in_data = false; // the stream passes over the rest of the payload
}

HRESULT hislip_session::receive_response(deadline until)
{
    try {
        for (;;) {
            if (!m_in_data) {
                const header message = m_sync.next(until);
                switch (message.type) {
                case message_type::data:
                case message_type::data_end:
                    if (message.length > client_maximum_message_size)
                        throw protocol_error(fatal::poorly_formed_header, "a Data message of " +
                                                                              std::to_string(message.length) +
                                                                              " bytes, past the maximum message size");
                    // In synchronized mode, what answers an earlier message was cut off by the last one.
                    if (!m_overlapped && before(message.parameter, m_message_start))
                        continue;
                    m_in_data = true;
                    m_data_ends = message.type == message_type::data_end;
                    break;
                case message_type::error:
                case message_type::fatal_error: return instrument_error(m_sync, message, IID_IMessage);
                default: continue; // Interrupted, and what a later protocol version may add
                }
            }
            if (const std::size_t left = static_cast<std::size_t>(m_sync.stream.payload_left()); left > 0) {
                if (m_pending.size() == m_filled) {
                    if (m_start > 0) {
                        std::copy(m_pending.begin() + static_cast<std::ptrdiff_t>(m_start),
                                  m_pending.begin() + static_cast<std::ptrdiff_t>(m_filled), m_pending.begin());
                        m_filled -= m_start;
                        m_end = m_end == no_end ? no_end : m_end - m_start;
                        m_start = 0;
                    }
                    // Room grows with what arrives: a length that lies costs no more than the
                    // message size agreed.
                    m_pending.resize(m_filled + std::min(std::max<std::size_t>(m_pending.size(), 64 << 10), left));
                }
                const std::size_t got = m_sync.stream.payload(
                    std::span(m_pending).subspan(m_filled, std::min(m_pending.size() - m_filled, left)),
                    m_sync.receiver(until));
                m_filled += got;
                if (got < left)
                    return S_OK;
            }
            m_in_data = false;
            if (m_data_ends) {
                m_end = m_filled;
                m_rmt_delivered = true;
            }
            return S_OK;
        }
    } catch (const tcp_failure& failure) {
        return failed(failure, true, IID_IMessage);
    } catch (const protocol_error& error) {
        return broken(error, IID_IMessage);
    }
}

HRESULT hislip_session::read_bytes(LONG count, bool stop, unique_safearray& bytes)
{
    if (count < 0)
        return report(E_INVALIDARG, L"The count must not be negative.");
    if (const HRESULT hr = precondition(IID_IMessage); FAILED(hr))
        return hr;
    if (m_discarding)
        if (const HRESULT hr = discard_rest(); FAILED(hr))
            return hr;
    // One byte past the room is enough to know that the message is too long; no more is held.
    const std::size_t wanted = std::min(static_cast<std::size_t>(count), message_room() + 1);
    std::size_t searched = 0;
    // Every wait has the whole timeout: a response that keeps arriving is not cut off.
    for (;;) {
        const unsigned char* begin = m_pending.data() + m_start;
        const std::size_t held = m_filled - m_start;
        const std::size_t window = std::min(held, wanted);
        std::size_t take = 0;
        if (stop && window > searched) {
            if (const auto* found = static_cast<const unsigned char*>(
                    std::memchr(begin + searched, m_termination_character, window - searched))) {
                take = static_cast<std::size_t>(found - begin) + 1;
                m_last_status = status_termination_character;
            }
            searched = window;
        }
        // END comes first where the message's last byte is also the termination character.
        const bool at_end = m_end != no_end && m_end - m_start <= wanted && (take == 0 || take == m_end - m_start);
        if (at_end) {
            take = m_end - m_start;
            m_last_status = status_end;
        }
        if (take == 0 && held >= wanted && wanted > 0) {
            take = wanted;
            m_last_status = status_count_reached;
        }
        if (take > message_room()) {
            m_discarding = !ends_message(m_last_status);
            m_start += take;
            if (m_start == m_end)
                m_end = no_end;
            return message_too_long();
        }
        if (take > 0 || wanted == 0 || at_end) {
            const bool ended = (take > 0 || at_end) && ends_message(m_last_status);
            bytes.reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(take)));
            if (!bytes)
                return report(E_OUTOFMEMORY, L"Not enough memory for the bytes read.");
            if (take > 0)
                std::memcpy(bytes->pvData, begin, take);
            handed_out(take, ended);
            m_start += take;
            if (m_start == m_end)
                m_end = no_end;
            if (m_start == m_filled)
                m_start = m_filled = 0;
            return S_OK;
        }
        if (const HRESULT hr = receive_response(until()); FAILED(hr))
            return hr;
    }
}

// The rest may arrive for one timeout: an instrument that never ends its message fails the
// read instead of holding it. What is dropped is never held longer than one Data message.
HRESULT hislip_session::discard_rest()
{
    const deadline end = until();
    for (;;) {
        if (m_end != no_end) {
            m_start = m_end;
            m_end = no_end;
            if (m_start == m_filled)
                m_start = m_filled = 0;
            m_discarding = false;
            return S_OK;
        }
        m_start = m_filled = 0;
        if (steady_clock::now() >= end)
            return report(timeout_expired, L"The rest of a message longer than MaximumMessageSize did not end "
                                           L"within the timeout.");
        if (const HRESULT hr = receive_response(end); FAILED(hr))
            return hr;
    }
}

HRESULT hislip_session::read(LONG count, SAFEARRAY** buffer)
{
    return read_array(
        buffer, [&](unique_safearray& bytes) { return read_bytes(count, m_termination != VARIANT_FALSE, bytes); });
}

HRESULT hislip_session::read_string(LONG count, BSTR* text)
{
    return read_text(text,
                     [&](unique_safearray& bytes) { return read_bytes(count, m_termination != VARIANT_FALSE, bytes); });
}

HRESULT hislip_session::async_reply(message_type expected, header& reply, const IID& interface_id, deadline until)
{
    for (;;) {
        reply = m_async.next(until);
        if (reply.type == message_type::async_status_response && m_owed_status > 0) {
            --m_owed_status;
            continue;
        }
        if (reply.type == expected)
            return S_OK;
        if (reply.type == message_type::error || reply.type == message_type::fatal_error)
            return instrument_error(m_async, reply, interface_id);
    }
}

HRESULT hislip_session::clear()
{
    std::lock_guard guard(m_lock);
    drop_pending();
    m_discarding = false;
    handed_out(0, true);
    if (const HRESULT hr = precondition(IID_IMorvaneSession); FAILED(hr))
        return hr;
    try {
        // The device clear's four steps: the instrument is told on the asynchronous channel,
        // says which features it prefers, is told they are requested on the synchronous one,
        // after whatever was still on its way there, and says which are in force.
        header reply;
        if (const HRESULT hr =
                async_exchange({message_type::async_device_clear, 0, 0, 0}, {},
                               message_type::async_device_clear_acknowledge, reply, IID_IMorvaneSession, reply_until());
            FAILED(hr))
            return hr;
        m_sync.send({message_type::device_clear_complete, static_cast<std::uint8_t>(reply.control & overlapped), 0, 0},
                    {}, reply_until());
        const deadline end = reply_until();
        do {
            reply = m_sync.next(end);
            if (reply.type == message_type::fatal_error)
                return instrument_error(m_sync, reply, IID_IMorvaneSession);
        } while (reply.type != message_type::device_clear_acknowledge);
        m_overlapped = (reply.control & overlapped) != 0;
        m_message_start = first_message_id;
        m_next_id = first_message_id;
        m_message_open = false;
        m_rmt_delivered = false; // the clear has dropped whatever response there was
        return S_OK;
    } catch (const tcp_failure& failure) {
        return failed(failure, false, IID_IMorvaneSession);
    } catch (const protocol_error& error) {
        return broken(error, IID_IMorvaneSession);
    }
}

HRESULT hislip_session::read_status_byte(short* status)
{
    if (!status)
        return null_pointer(IID_IMorvaneSession);
    *status = 0;
    std::lock_guard guard(m_lock);
    if (const HRESULT hr = precondition(IID_IMorvaneSession); FAILED(hr))
        return hr;
    header reply;
    if (const HRESULT hr =
            async_exchange({message_type::async_status_query, take_rmt(), m_next_id - 2, 0}, {},
                           message_type::async_status_response, reply, IID_IMorvaneSession, reply_until());
        FAILED(hr))
        return hr;
    *status = reply.control;
    return S_OK;
}

HRESULT hislip_session::assert_trigger()
{
    std::lock_guard guard(m_lock);
    if (const HRESULT hr = precondition(IID_IMorvaneSession); FAILED(hr))
        return hr;
    try {
        m_sync.send({message_type::trigger, take_rmt(), take_message_id(), 0}, {}, until());
        return S_OK;
    } catch (const tcp_failure& failure) {
        return failed(failure, false, IID_IMorvaneSession);
    }
}

HRESULT hislip_session::async_exchange(const header& request, std::string_view payload, message_type expected,
                                       header& reply, const IID& interface_id, deadline until)
{
    try {
        const std::span bytes(reinterpret_cast<const unsigned char*>(payload.data()), payload.size());
        if (m_router) {
            const async_message answer = m_router->exchange(request, bytes, expected, until);
            reply = answer.head;
            if (reply.type == message_type::error || reply.type == message_type::fatal_error)
                return instrument_error(reply, answer.payload, interface_id);
            return S_OK;
        }
        m_async.send(request, bytes, until);
        return async_reply(expected, reply, interface_id, until);
    } catch (const tcp_failure& failure) {
        return failed(failure, false, interface_id);
    } catch (const protocol_error& error) {
        return broken(error, interface_id);
    }
}

HRESULT hislip_session::enable_service_requests()
{
    if (const HRESULT hr = precondition(IID_IMorvaneServiceRequests); FAILED(hr))
        return hr;
    // The session's own state that the router's queries carry is atomic; the rest is not touched.
    m_router = std::make_unique<async_router>(
        m_async,
        async_router::session_side{[this] {
                                       return header{message_type::async_status_query, take_rmt(), m_next_id - 2, 0};
                                   },
                                   [this] { return milliseconds(m_router_timeout) + reply_grace; },
                                   [this](short status_byte) { raise_service_request(status_byte); }},
        std::exchange(m_owed_status, 0));
    return S_OK;
}

HRESULT hislip_session::disable_service_requests()
{
    stop_router();
    return S_OK;
}

HRESULT hislip_session::lock(LONG timeout_ms, std::wstring_view shared_name)
{
    if (const HRESULT hr = precondition(IID_IMorvaneLocking); FAILED(hr))
        return hr;
    std::string name;
    for (const wchar_t c : shared_name) {
        if (c < L' ' || c > 0x7E)
            return report(E_INVALIDARG, L"A shared lock's name is printable ASCII.", IID_IMorvaneLocking);
        name += static_cast<char>(c);
    }
    // The instrument answers once it granted the lock or the lock's timeout passed.
    header reply;
    if (const HRESULT hr = async_exchange(
            {message_type::async_lock, lock::request, static_cast<std::uint32_t>(timeout_ms), name.size()}, name,
            message_type::async_lock_response, reply, IID_IMorvaneLocking,
            steady_clock::now() + milliseconds(timeout_ms) + reply_grace);
        FAILED(hr))
        return hr;
    switch (reply.control) {
    case lock::granted: m_lock_state = name.empty() ? lock_exclusive : lock_shared; return S_OK;
    case lock::failed:
        return report(resource_locked, L"Another client held the instrument's lock for the whole timeout.",
                      IID_IMorvaneLocking);
    default:
        return report(device_error_reported,
                      L"The instrument refused the lock (AsyncLockResponse " + std::to_wstring(reply.control) + L").",
                      IID_IMorvaneLocking);
    }
}

HRESULT hislip_session::unlock()
{
    if (const HRESULT hr = precondition(IID_IMorvaneLocking); FAILED(hr))
        return hr;
    header reply;
    if (const HRESULT hr = async_exchange({message_type::async_lock, lock::release, m_next_id - 2, 0}, {},
                                          message_type::async_lock_response, reply, IID_IMorvaneLocking, reply_until());
        FAILED(hr))
        return hr;
    if (reply.control != lock::granted && reply.control != lock::shared_released)
        return report(not_locked, L"The session holds no lock on the instrument.", IID_IMorvaneLocking);
    m_lock_state = lock_none;
    return S_OK;
}

} // namespace

HRESULT open_hislip_session(const hislip_address& address, std::wstring_view resource_name, LONG timeout_ms,
                            IMessage** session)
{
    if (!session)
        return hislip_session::null_pointer();
    *session = nullptr;
    try {
        auto object = com_object<hislip_session>::make<IMessage>(std::wstring(resource_name), timeout_ms);
        auto* created = static_cast<hislip_session*>(object.Get());
        if (const HRESULT hr = created->connect(address, steady_clock::now() + milliseconds(timeout_ms)); FAILED(hr))
            return hr;
        *session = object.Detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return hislip_session::report(E_OUTOFMEMORY, L"Not enough memory to open the session.");
    }
}

} // namespace morvane::hislip
