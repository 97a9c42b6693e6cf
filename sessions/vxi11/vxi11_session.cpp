#include "vxi11/vxi11_session.hpp"

#include <oleauto.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include "locking_session.hpp"
#include "platform/ansi.hpp"
#include "platform/bstr.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "oncrpc/portmapper.hpp"
#include "oncrpc/rpc_client.hpp"
#include "vxi11/core_messages.hpp"
#include "vxi11/interrupt_channel.hpp"
#include "vxi11/request_worker.hpp"
#include "vxi11/vxi11_errors.hpp"
#include "vxi11/vxi11_numbers.hpp"
#include "vxi11/vxi11_resource_name.hpp"

namespace morvane::vxi11 {
namespace {

using namespace ::morvane::session;
using namespace ::morvane::oncrpc;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
using transport::deadline;
using transport::tcp_connection;
using transport::tcp_failure;

// The most bytes one device_read asks for: a larger Read takes several.
constexpr std::uint32_t read_piece = 8u << 20;
constexpr std::size_t reply_limit = read_piece + 1024;
// A reply may come this long after the device's own timeout.
constexpr milliseconds reply_grace{1000};

// Handles of device_enable_srq: each session's its own.
std::atomic<std::uint32_t> next_handle{static_cast<std::uint32_t>(steady_clock::now().time_since_epoch().count())};

// A reply's bytes and where in them the results of the procedure begin.
struct rpc_reply {
    std::vector<unsigned char> record;
    std::size_t results = 0;
    xdr_reader reader() const { return xdr_reader(std::span(record).subspan(results)); }
};

class vxi11_session : public locking_session<vxi11_session> {
public:
    static constexpr const wchar_t* error_source = L"Morvane VXI-11 session";
    static constexpr const wchar_t* negative_timeout = L"The timeout must not be negative.";

    vxi11_session(std::wstring resource_name, LONG timeout, std::string host, unsigned short port, std::string device)
        : locking_session(std::move(resource_name), timeout), m_host(std::move(host)), m_port(port),
          m_device(std::move(device))
    {
        m_termination = VARIANT_FALSE;
    }
    ~vxi11_session() override;

    // Connects and creates the link, replies awaited until `until`.
    HRESULT connect(deadline until, const IID& interface_id = IID_IMessage);

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
    std::uint32_t timeout() const { return static_cast<std::uint32_t>(m_timeout_ms); }
    // A call of the core channel, the link made again first if a timeout dropped it; the
    // reply's error field read. Fails, with error information, as the call or the device did.
    // `wait`: how long the device may take beyond the reply's grace (the I/O timeout when none).
    HRESULT call(std::uint32_t procedure, const std::function<void(xdr_writer&)>& arguments, std::size_t capacity,
                 rpc_reply& reply, xdr_reader& results, const IID& interface_id,
                 std::optional<milliseconds> wait = std::nullopt);
    HRESULT generic(std::uint32_t procedure, rpc_reply& reply, xdr_reader& results);
    HRESULT generic(std::uint32_t procedure);
    // The link is gone for good: every later call fails at once.
    HRESULT connection_failed(const std::wstring& text, const IID& interface_id = IID_IMessage);
    HRESULT read_bytes(LONG count, unique_safearray& bytes);
    HRESULT device_read(std::uint32_t request, rpc_reply& reply, xdr_reader& results);
    // Drops what is left of a message that passed MaximumMessageSize, up to its END (or the
    // termination character, while reads stop at it).
    HRESULT discard_rest();
    // create_intr_chan and device_enable_srq for the interrupt channel that is listening.
    HRESULT announce_interrupts();
    // device_enable_srq false and destroy_intr_chan; the first failure.
    HRESULT withdraw_interrupts();
    // On the status reader's thread, once for each device_intr_srq: the status byte read under
    // the session's lock, so that it never comes between a client call's request and reply,
    // and raised outside it.
    void read_requested_status(const std::atomic<bool>& stopping) noexcept;

    const std::string m_host;
    const unsigned short m_port;
    const std::string m_device;
    std::optional<rpc_client> m_rpc; // none: no link, made again by the next call
    std::int32_t m_link = 0;
    std::size_t m_max_receive = 1024;
    bool m_lost = false;                  // every call fails at once
    std::vector<unsigned char> m_pending; // read before a failure, given to the next read
    bool m_discarding = false;            // the rest of a message too long is still to come
    LONG m_last_status = status_end;

    // While service requests are enabled: the channel the device calls, and what it is told.
    struct interrupts {
        interrupts(const std::string& listen_on, std::vector<unsigned char> id, std::uint32_t where,
                   request_worker& reader)
            : handle(std::move(id)), channel(listen_on, handle, [&reader] { reader.request(); }), address(where)
        {}
        const std::vector<unsigned char> handle;
        interrupt_channel channel;
        const std::uint32_t address; // where it listens, in network order
    };
    // Made by the first enable, ended with the session: it waits on m_lock, which a disable
    // holds, so only the destructor (which holds nothing) may join it.
    std::unique_ptr<request_worker> m_status_reader;
    std::unique_ptr<interrupts> m_interrupts;
};

vxi11_session::~vxi11_session()
{
    const bool interrupting = m_interrupts != nullptr;
    m_interrupts.reset();
    m_status_reader.reset(); // it may be in a call: that ends first
    if (!m_rpc || m_lost)
        return;
    try {
        std::size_t at = 0;
        if (interrupting) {
            xdr_writer disable = m_rpc->start(core::device_enable_srq);
            encode(disable, device_enable_srq_args{m_link, false, {}});
            m_rpc->call(disable, steady_clock::now() + reply_grace, at);
            xdr_writer destroy = m_rpc->start(core::destroy_intr_chan);
            m_rpc->call(destroy, steady_clock::now() + reply_grace, at);
        }
        xdr_writer call = m_rpc->start(core::destroy_link);
        encode(call, device_link{m_link});
        m_rpc->call(call, steady_clock::now() + reply_grace, at);
    } catch (...) {
        // The link and the interrupt channel go with the connection anyway.
    }
}

HRESULT vxi11_session::connect(deadline until, const IID& interface_id)
{
    try {
        m_rpc.emplace(std::make_unique<tcp_connection>(m_host, std::to_string(m_port), until), core::program,
                      core::version, reply_limit);
    } catch (const tcp_failure& failure) {
        return report(resource_not_found, failure.text, interface_id);
    }
    rpc_reply reply;
    xdr_reader results(reply.record);
    // clang-format off
    const HRESULT hr = call(core::create_link, [&](xdr_writer& out) {
        encode(out, create_link_args{0, false, timeout(), m_device});
    }, m_device.size(), reply, results, interface_id);
    // clang-format on
    if (FAILED(hr)) {
        m_rpc.reset();
        return hr;
    }
    try {
        create_link_result created; // the abort channel is not used
        decode(results, created);
        m_link = created.link;
        m_max_receive = std::max<std::size_t>(created.max_receive, 1);
    } catch (const xdr_error&) {
        m_rpc.reset();
        return report(resource_not_found, L"The device's reply to create_link is incomplete.", interface_id);
    }
    // A link made again keeps taking service requests; a device that refuses now only loses them,
    // but one whose reply did not come took the connection with it.
    if (m_interrupts)
        if (const HRESULT hr = announce_interrupts(); FAILED(hr) && !m_rpc)
            return hr;
    return S_OK;
}

HRESULT vxi11_session::enable_service_requests()
{
    const IID& requests = IID_IMorvaneServiceRequests;
    if (m_lost)
        return report(connection_lost, L"The connection to the instrument was lost.", requests);
    if (!m_rpc)
        if (const HRESULT hr = connect(steady_clock::now() + milliseconds(m_timeout_ms) + reply_grace, requests);
            FAILED(hr))
            return hr;
    sockaddr_storage local{};
    try {
        local = m_rpc->connection().local_address();
    } catch (const tcp_failure& failure) {
        return connection_failed(failure.text, requests);
    }
    // The device calls back the address that it was reached on.
    if (local.ss_family != AF_INET)
        return no_service_requests(L"The core channel runs over IPv6, and create_intr_chan names only an IPv4 "
                                   L"address: this session cannot take service requests.");
    const in_addr address = reinterpret_cast<const sockaddr_in&>(local).sin_addr;
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &address, text, sizeof text))
        return report(E_FAIL, L"The core channel's local address cannot be written.", requests);
    const std::uint32_t id = next_handle++;
    std::vector<unsigned char> handle{'M',
                                      'R',
                                      'V',
                                      'S',
                                      static_cast<unsigned char>(id >> 24),
                                      static_cast<unsigned char>(id >> 16),
                                      static_cast<unsigned char>(id >> 8),
                                      static_cast<unsigned char>(id)};
    if (!m_status_reader)
        m_status_reader = std::make_unique<request_worker>(
            [this](const std::atomic<bool>& stopping) { read_requested_status(stopping); });
    m_interrupts = std::make_unique<interrupts>(text, std::move(handle), address.s_addr, *m_status_reader);
    if (!m_interrupts->channel.listening()) {
        m_interrupts.reset();
        return report(E_FAIL, L"The interrupt channel cannot listen on " + widened(text) + L".", requests);
    }
    if (const HRESULT hr = announce_interrupts(); FAILED(hr)) {
        m_interrupts.reset();
        return hr;
    }
    return S_OK;
}

HRESULT vxi11_session::announce_interrupts()
{
    const IID& requests = IID_IMorvaneServiceRequests;
    rpc_reply reply;
    xdr_reader results(reply.record);
    const interrupts& channel = *m_interrupts;
    // clang-format off
    if (const HRESULT hr = call(core::create_intr_chan, [&](xdr_writer& out) {
            encode(out, device_remote_func{ntohl(channel.address), channel.channel.port(), interrupt::program,
                                           interrupt::version, interrupt::family_tcp});
        }, 0, reply, results, requests); FAILED(hr))
        return hr;
    if (const HRESULT hr = call(core::device_enable_srq, [&](xdr_writer& out) {
            encode(out, device_enable_srq_args{m_link, true, channel.handle});
        }, channel.handle.size(), reply, results, requests); FAILED(hr)) {
        // clang-format on
        if (m_rpc) // not a connection made again for this alone
            call(
                core::destroy_intr_chan, [](xdr_writer&) {}, 0, reply, results, requests);
        return hr;
    }
    return S_OK;
}

HRESULT vxi11_session::withdraw_interrupts()
{
    const IID& requests = IID_IMorvaneServiceRequests;
    rpc_reply reply;
    xdr_reader results(reply.record);
    // clang-format off
    const HRESULT disabled = call(core::device_enable_srq, [&](xdr_writer& out) {
        encode(out, device_enable_srq_args{m_link, false, {}});
    }, 0, reply, results, requests);
    // clang-format on
    const HRESULT destroyed = call(
        core::destroy_intr_chan, [](xdr_writer&) {}, 0, reply, results, requests);
    return FAILED(disabled) ? disabled : destroyed;
}

HRESULT vxi11_session::disable_service_requests()
{
    // Stopped here whatever the device answers; a read that waits for the lock finds it gone.
    const HRESULT hr = withdraw_interrupts();
    m_interrupts.reset();
    m_status_reader->cancel();
    return hr;
}

void vxi11_session::read_requested_status(const std::atomic<bool>& stopping) noexcept
{
    try {
        std::unique_lock guard(m_lock);
        if (stopping || !m_interrupts)
            return; // disabled while this read waited for the lock
        rpc_reply reply;
        xdr_reader results(reply.record);
        if (FAILED(generic(core::device_readstb, reply, results)))
            return; // no status byte, no request: the failure's error information stays on this thread
        device_readstb_result result;
        decode(results, result);
        guard.unlock();
        raise_service_request(result.status);
    } catch (...) {
        // A reply that cannot be read, or no memory: this request is lost.
    }
}

HRESULT vxi11_session::call(std::uint32_t procedure, const std::function<void(xdr_writer&)>& arguments,
                            std::size_t capacity, rpc_reply& reply, xdr_reader& results, const IID& interface_id,
                            std::optional<milliseconds> wait)
{
    if (m_lost)
        return report(connection_lost, L"The connection to the instrument was lost.", interface_id);
    if (!m_rpc && procedure != core::create_link)
        if (const HRESULT hr = connect(steady_clock::now() + milliseconds(m_timeout_ms) + reply_grace, interface_id);
            FAILED(hr))
            return hr;
    try {
        xdr_writer out = m_rpc->start(procedure, capacity + 32);
        arguments(out);
        reply.record = m_rpc->call(out, steady_clock::now() + wait.value_or(milliseconds(m_timeout_ms)) + reply_grace,
                                   reply.results);
        results = reply.reader();
        // Every result begins with the error; the caller reads the whole result.
        device_error_result result;
        xdr_reader error_field = results;
        decode(error_field, result);
        if (const auto code = static_cast<std::int32_t>(result.error); code != 0) {
            const mapped_error mapped = map_device_error(code);
            if (mapped.link_lost)
                return connection_failed(mapped.text, interface_id);
            return report(mapped.hr, mapped.text, interface_id);
        }
        return S_OK;
    } catch (const tcp_failure& failure) {
        m_rpc.reset();
        m_lock_state = lock_none; // the link's lock goes with it
        if (failure.kind == tcp_failure::timed_out)
            return report(timeout_expired,
                          L"The device did not answer within its I/O timeout and a second; "
                          L"the link is made again by the next call.",
                          interface_id);
        return connection_failed(failure.text, interface_id);
    } catch (const rpc_refused& refused) {
        return report(device_error_reported, L"The device refused the call: " + widened(refused.what()) + L".",
                      interface_id);
    } catch (const xdr_error& error) {
        return connection_failed(L"The device's reply cannot be read: " + widened(error.what()) + L".", interface_id);
    }
}

HRESULT vxi11_session::write(SAFEARRAY** buffer, LONG count, LONG* written)
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
    m_discarding = false; // a new message makes the device drop what is left of the last
    try {
        const safearray_data data(*buffer);
        std::size_t done = 0;
        do {
            // The device takes at most m_max_receive bytes a call; END goes with the last byte only.
            const std::size_t piece = std::min(n - done, m_max_receive);
            const std::int32_t flags = flag_wait_lock | (end && done + piece == n ? flag_end : 0);
            rpc_reply reply;
            xdr_reader results(reply.record);
            // clang-format off
            if (const HRESULT hr = call(core::device_write, [&](xdr_writer& out) {
                    const std::span<const unsigned char> bytes(data.bytes() + done, piece);
                    encode(out, device_write_args{m_link, timeout(), timeout(), flags, bytes});
                }, piece, reply, results, IID_IMessage); FAILED(hr))
                // clang-format on
                return hr;
            device_write_result result;
            decode(results, result);
            const std::size_t taken = std::min<std::size_t>(result.size, piece);
            if (taken == 0 && piece > 0)
                return report(device_error_reported, L"The device took none of the bytes written.");
            done += taken;
            *written = static_cast<LONG>(done);
        } while (done < n);
    } catch (const safearray_error&) {
        return report(E_INVALIDARG, L"The array cannot be read.");
    } catch (const xdr_error&) {
        return connection_failed(L"The device's reply to device_write is incomplete.");
    }
    return S_OK;
}

HRESULT vxi11_session::device_read(std::uint32_t request, rpc_reply& reply, xdr_reader& results)
{
    const bool stop = m_termination != VARIANT_FALSE;
    // clang-format off
    return call(core::device_read, [&](xdr_writer& out) {
        encode(out, device_read_args{m_link, request, timeout(), timeout(), flag_wait_lock | (stop ? flag_term_char : 0),
                                     m_termination_character});
    }, 0, reply, results, IID_IMessage);
    // clang-format on
}

// Within one timeout and a second, as a reply: a device that never ends its message fails
// the read instead of holding it. One reply's data (at most read_piece) is held at a time.
HRESULT vxi11_session::discard_rest()
{
    const auto end = steady_clock::now() + milliseconds(m_timeout_ms) + reply_grace;
    try {
        for (;;) {
            rpc_reply reply;
            xdr_reader results(reply.record);
            if (const HRESULT hr = device_read(read_piece, reply, results); FAILED(hr))
                return hr;
            device_read_result result;
            decode(results, result, read_piece);
            if (result.reason & (reason_end | reason_term_char)) {
                m_discarding = false;
                return S_OK;
            }
            if (steady_clock::now() > end)
                return report(timeout_expired, L"The rest of a message longer than MaximumMessageSize did not end "
                                               L"within the timeout and a second.");
        }
    } catch (const xdr_error&) {
        return connection_failed(L"The device's reply to device_read is incomplete.");
    }
}

HRESULT vxi11_session::read_bytes(LONG count, unique_safearray& bytes)
{
    if (count < 0)
        return report(E_INVALIDARG, L"The count must not be negative.");
    if (m_discarding)
        if (const HRESULT hr = discard_rest(); FAILED(hr))
            return hr;
    // One byte past the room is enough to know that the message is too long; no more is held.
    const std::size_t wanted = std::min(static_cast<std::size_t>(count), message_room() + 1);
    // The pieces of the answer as they came, copied once into the array at the end.
    std::vector<rpc_reply> replies;
    std::vector<std::span<const unsigned char>> pieces;
    std::vector<unsigned char> earlier = std::move(m_pending);
    m_pending.clear();
    std::size_t got = std::min(earlier.size(), wanted);
    if (got < earlier.size())
        m_pending.assign(earlier.begin() + static_cast<std::ptrdiff_t>(got), earlier.end());
    pieces.emplace_back(earlier.data(), got);
    std::int32_t reason = 0;
    // Replies that bring neither data nor a reason are read again, but not for longer than a
    // reply may take to come: a device that keeps sending them must not hold the call forever.
    auto progress = steady_clock::now();
    const auto keep_for_next_read = [&] {
        std::vector<unsigned char> kept;
        for (const auto& piece : pieces)
            kept.insert(kept.end(), piece.begin(), piece.end());
        kept.insert(kept.end(), m_pending.begin(), m_pending.end());
        m_pending = std::move(kept);
    };
    try {
        while (got < wanted && !(reason & (reason_end | reason_term_char))) {
            const auto request = static_cast<std::uint32_t>(std::min<std::size_t>(wanted - got, read_piece));
            rpc_reply& reply = replies.emplace_back();
            xdr_reader results(reply.record);
            if (const HRESULT hr = device_read(request, reply, results); FAILED(hr)) {
                keep_for_next_read(); // what came before the failure is the next read's
                return hr;
            }
            device_read_result result;
            decode(results, result, request);
            reason = result.reason;
            const auto data = result.data;
            pieces.push_back(data);
            got += data.size();
            if (!data.empty() || (reason & (reason_end | reason_term_char))) {
                progress = steady_clock::now();
            } else if (steady_clock::now() - progress > milliseconds(m_timeout_ms) + reply_grace) {
                keep_for_next_read();
                return report(timeout_expired, L"The device sent neither data nor the end of the response within "
                                               L"its I/O timeout and a second.");
            }
        }
    } catch (const xdr_error&) {
        return connection_failed(L"The device's reply to device_read is incomplete.");
    }
    const bool ended = reason & (reason_end | reason_term_char);
    if (got > message_room()) {
        // The device holds the rest until it is read or a new message comes: it is read now,
        // so that the next query interrupts nothing. A rest that does not end in time is
        // read on by the next read.
        m_pending.clear();
        pieces.clear();
        replies.clear(); // the message's bytes are not held while the rest is read
        m_discarding = !ended;
        if (m_discarding)
            discard_rest();
        return message_too_long();
    }
    m_last_status = reason & reason_end         ? status_end
                    : reason & reason_term_char ? status_termination_character
                                                : status_count_reached;
    bytes.reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(got)));
    if (!bytes)
        return report(E_OUTOFMEMORY, L"Not enough memory for the bytes read.");
    auto* to = static_cast<unsigned char*>(bytes->pvData);
    for (const auto& piece : pieces)
        if (!piece.empty())
            to = std::copy(piece.begin(), piece.end(), to);
    handed_out(got, ended);
    return S_OK;
}

HRESULT vxi11_session::connection_failed(const std::wstring& text, const IID& interface_id)
{
    m_lost = true;
    m_rpc.reset();
    return report(connection_lost, text, interface_id);
}

HRESULT vxi11_session::read(LONG count, SAFEARRAY** buffer)
{
    return read_array(buffer, [&](unique_safearray& bytes) { return read_bytes(count, bytes); });
}

HRESULT vxi11_session::read_string(LONG count, BSTR* text)
{
    return read_text(text, [&](unique_safearray& bytes) { return read_bytes(count, bytes); });
}

HRESULT vxi11_session::generic(std::uint32_t procedure, rpc_reply& reply, xdr_reader& results)
{
    // clang-format off
    return call(procedure, [&](xdr_writer& out) {
        encode(out, device_generic_args{m_link, flag_wait_lock, timeout(), timeout()});
    }, 0, reply, results, IID_IMorvaneSession);
    // clang-format on
}

HRESULT vxi11_session::generic(std::uint32_t procedure)
{
    rpc_reply reply;
    xdr_reader results(reply.record);
    return generic(procedure, reply, results);
}

HRESULT vxi11_session::clear()
{
    std::lock_guard guard(m_lock);
    m_pending.clear();
    m_discarding = false;
    handed_out(0, true);
    return generic(core::device_clear);
}

HRESULT vxi11_session::read_status_byte(short* status)
{
    if (!status)
        return null_pointer(IID_IMorvaneSession);
    *status = 0;
    std::lock_guard guard(m_lock);
    rpc_reply reply;
    xdr_reader results(reply.record);
    if (const HRESULT hr = generic(core::device_readstb, reply, results); FAILED(hr))
        return hr;
    try {
        device_readstb_result result;
        decode(results, result);
        *status = result.status;
    } catch (const xdr_error&) {
        return connection_failed(L"The device's reply to device_readstb is incomplete.", IID_IMorvaneSession);
    }
    return S_OK;
}

HRESULT vxi11_session::assert_trigger()
{
    std::lock_guard guard(m_lock);
    return generic(core::device_trigger);
}

// The device's locks are exclusive: one link holds it, the others wait for it.
HRESULT vxi11_session::lock(LONG timeout_ms, std::wstring_view shared_name)
{
    if (!shared_name.empty())
        return report(E_INVALIDARG, L"A VXI-11 device has no shared locks: the name must be empty.",
                      IID_IMorvaneLocking);
    rpc_reply reply;
    xdr_reader results(reply.record);
    // clang-format off
    if (const HRESULT hr = call(core::device_lock, [&](xdr_writer& out) {
            encode(out, device_lock_args{m_link, flag_wait_lock, static_cast<std::uint32_t>(timeout_ms)});
        }, 0, reply, results, IID_IMorvaneLocking, milliseconds(timeout_ms)); FAILED(hr))
        // clang-format on
        return hr;
    m_lock_state = lock_exclusive;
    return S_OK;
}

HRESULT vxi11_session::unlock()
{
    rpc_reply reply;
    xdr_reader results(reply.record);
    // clang-format off
    if (const HRESULT hr = call(core::device_unlock, [&](xdr_writer& out) {
            encode(out, device_link{m_link});
        }, 0, reply, results, IID_IMorvaneLocking); FAILED(hr))
        // clang-format on
        return hr;
    m_lock_state = lock_none;
    return S_OK;
}

} // namespace

HRESULT open_vxi11_session(const vxi11_address& address, std::wstring_view resource_name, LONG timeout_ms,
                           core_channel_ports ports, IMessage** session)
{
    if (!session)
        return vxi11_session::null_pointer();
    *session = nullptr;
    try {
        const deadline until = steady_clock::now() + milliseconds(timeout_ms);
        unsigned short port = ports.core;
        if (port == 0) {
            try {
                port = ask_port(address.host, ports.portmapper, core::program, core::version, until);
            } catch (const tcp_failure& failure) {
                return vxi11_session::report(resource_not_found, L"The portmapper cannot be asked: " + failure.text);
            } catch (const std::runtime_error& error) {
                return vxi11_session::report(resource_not_found, L"The portmapper's answer cannot be read: " +
                                                                     widened(error.what()) + L".");
            }
            if (port == 0)
                return vxi11_session::report(resource_not_found, L"The host " + widened(address.host) +
                                                                     L" has no VXI-11 core channel registered.");
        }
        auto object = com_object<vxi11_session>::make<IMessage>(std::wstring(resource_name), timeout_ms, address.host,
                                                                port, address.device);
        auto* created = static_cast<vxi11_session*>(object.Get());
        if (const HRESULT hr = created->connect(until + reply_grace); FAILED(hr))
            return hr;
        *session = object.Detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return vxi11_session::report(E_OUTOFMEMORY, L"Not enough memory to open the session.");
    }
}

} // namespace morvane::vxi11
