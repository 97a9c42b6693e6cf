#include "core_channel.hpp"

#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <thread>
#include <morvane_sessions.h>
#include "platform/safearray.hpp"
#include "interrupt_sender.hpp"
#include "lock_table.hpp"
#include "oncrpc/rpc_connection.hpp"
#include "oncrpc/rpc_numbers.hpp"
#include "oncrpc/rpc_server.hpp"
#include "session_codes.hpp"
#include "sim/simulated_session.hpp"
#include "vxi11/core_messages.hpp"

namespace morvane::instrument_server {
namespace {

using namespace vxi11;
using oncrpc::accepted_reply;
using oncrpc::call_header;
using oncrpc::rpc_connection;
using oncrpc::xdr_error;
namespace rpc = oncrpc::rpc;
using Microsoft::WRL::ComPtr;
using error = device_error;

constexpr std::size_t record_limit = core_max_write + 1024; // a full device_write and its header
constexpr std::size_t max_links = 16;                       // on one connection
constexpr std::size_t read_piece = 64 << 10; // the session's arrays come from reused heap memory at this size

// From 65536 up: the lock table's clients below are HiSLIP sessions.
std::atomic<std::int32_t> next_link_id{1 << 16};

struct link {
    ComPtr<IMessage> session;
    ComPtr<IMorvaneSession> own;   // the same session's own interface
    bool response_started = false; // the current response had its first reply: --delay holds only that one
};

class core_server {
public:
    core_server(const server_options& options, rpc_connection& connection, std::shared_ptr<sim::memory_budget> budget)
        : m_options(options), m_connection(connection), m_budget(std::move(budget))
    {}
    // The connection's end releases the locks of the links it had.
    ~core_server()
    {
        for (const auto& held : m_links)
            server_locks().release_all(client(held.first));
    }
    core_server(const core_server&) = delete;
    core_server& operator=(const core_server&) = delete;

    // False once a reply sent in parts failed: the connection is to close.
    bool open() const noexcept { return m_open; }

    // The reply to one call, none when it was sent already; `delayed` tells whether it starts a response.
    std::optional<xdr_writer> answer(std::span<const unsigned char> record, bool& delayed)
    {
        return oncrpc::serve_call(record, core::program, core::version, [&](const call_header& call, xdr_reader& in) {
            return procedure(call, in, delayed);
        });
    }

private:
    // A success reply with `result`.
    template<typename Result> static xdr_writer reply(std::uint32_t xid, const Result& result)
    {
        xdr_writer out = accepted_reply(xid, rpc::success);
        encode(out, result);
        return out;
    }
    static xdr_writer reply(std::uint32_t xid, error code) { return reply(xid, device_error_result{code}); }

    static lock_table::client_id client(std::int32_t link) { return static_cast<lock_table::client_id>(link); }

    // Another link's lock keeps a call out: at once without flag_wait_lock, else for lock_timeout
    // at most, or until this client goes.
    bool admitted(std::int32_t link, std::int32_t flags, std::uint32_t lock_timeout)
    {
        return server_locks().wait_for_access(client(link), lock_wait(flags, lock_timeout), gone());
    }
    static std::chrono::milliseconds lock_wait(std::int32_t flags, std::uint32_t lock_timeout)
    {
        return std::chrono::milliseconds(flags & flag_wait_lock ? lock_timeout : 0);
    }
    lock_table::give_up gone() const
    {
        return [this] { return m_connection.closed_within(std::chrono::milliseconds(0)); };
    }

    link* find(std::int32_t id)
    {
        const auto found = m_links.find(id);
        return found == m_links.end() ? nullptr : &found->second;
    }

    std::optional<xdr_writer> procedure(const call_header& call, xdr_reader& in, bool& delayed)
    {
        const std::uint32_t xid = call.xid;
        switch (call.procedure) {
        case core::create_link: return create_link(xid, in);
        case core::device_write: return device_write(xid, in);
        case core::device_read: return device_read(xid, in, delayed);
        case core::device_readstb:
        case core::device_trigger:
        case core::device_clear: return generic(call.procedure, xid, in);
        case core::device_lock: {
            // The links of every connection share the one instrument's lock.
            device_lock_args args;
            decode(in, args);
            if (!find(args.link))
                return reply(xid, error::invalid_link);
            const lock_outcome got =
                server_locks().request(client(args.link), {}, lock_wait(args.flags, args.lock_timeout), gone());
            return reply(xid, got == lock_outcome::granted ? error::none : error::locked_by_another);
        }
        case core::device_unlock: {
            device_link args;
            decode(in, args);
            if (!find(args.link))
                return reply(xid, error::invalid_link);
            const released what = server_locks().release(client(args.link));
            return reply(xid, what == released::exclusive ? error::none : error::no_lock_held);
        }
        case core::destroy_link: {
            device_link args;
            decode(in, args);
            if (m_links.erase(args.link) == 0)
                return reply(xid, error::invalid_link);
            m_interrupts.enable(args.link, false, {});
            server_locks().release_all(client(args.link));
            return reply(xid, error::none);
        }
        case core::device_remote:
        case core::device_local: {
            device_generic_args args;
            decode(in, args);
            return reply(xid, error::not_supported);
        }
        case core::device_enable_srq: {
            device_enable_srq_args args;
            decode(in, args);
            if (!find(args.link))
                return reply(xid, error::invalid_link);
            m_interrupts.enable(args.link, args.enable, args.handle);
            return reply(xid, error::none);
        }
        case core::create_intr_chan: {
            device_remote_func args;
            decode(in, args);
            if (args.family != interrupt::family_tcp)
                return reply(xid, error::not_supported);
            return reply(xid, m_interrupts.open({args.host_address, args.host_port, args.program, args.version})
                                  ? error::none
                                  : error::channel_already_established);
        }
        case core::destroy_intr_chan:
            return reply(xid, m_interrupts.close() ? error::none : error::channel_not_established);
        case core::device_docmd: {
            device_docmd_args args;
            decode(in, args, record_limit);
            return reply(xid, device_docmd_result{error::not_supported, {}});
        }
        default: return accepted_reply(xid, rpc::proc_unavail);
        }
    }

    xdr_writer create_link(std::uint32_t xid, xdr_reader& in)
    {
        // Every device name is this one instrument.
        create_link_args args;
        decode(in, args);
        ComPtr<IMessage> session =
            m_links.size() < max_links
                ? sim::create_simulated_session(m_options.seed, L"SIM", sim::default_timeout_ms, m_budget)
                : nullptr;
        ComPtr<IMorvaneSession> own;
        if (!session || FAILED(session.As(&own)))
            return reply(xid, create_link_result{error::out_of_resources, 0, 0, 0});
        // Messages are framed by END on this channel, not by line feeds.
        session->put_TerminationCharacterEnabled(VARIANT_FALSE);
        const std::int32_t id = next_link_id++;
        // A link asked with the lock waits lock_timeout for it, or is not made.
        if (args.lock_device && server_locks().request(client(id), {}, std::chrono::milliseconds(args.lock_timeout),
                                                       gone()) != lock_outcome::granted)
            return reply(xid, create_link_result{error::locked_by_another, 0, 0, 0});
        // Called outside the instrument's lock, from its timer or the call that raised it: the
        // sender only notes it, and its own thread calls the client.
        sim::on_service_request(session.Get(), [this, id](std::uint8_t) { m_interrupts.raise(id); });
        m_links[id] = link{std::move(session), std::move(own)};
        // There is no abort channel.
        return reply(xid, create_link_result{error::none, id, 0, static_cast<std::uint32_t>(core_max_receive)});
    }

    xdr_writer device_write(std::uint32_t xid, xdr_reader& in)
    {
        // No io_timeout: the simulated instrument takes bytes at once.
        device_write_args args;
        decode(in, args, record_limit);
        const auto data = args.data;
        link* const found = find(args.link);
        error code = !found                                                ? error::invalid_link
                     : data.size() > core_max_write                        ? error::parameter
                     : !admitted(args.link, args.flags, args.lock_timeout) ? error::locked_by_another
                                                                           : error::none;
        LONG written = 0;
        if (code == error::none) {
            const bool end = (args.flags & flag_end) != 0;
            found->session->put_SendEndEnabled(end ? VARIANT_TRUE : VARIANT_FALSE);
            unique_safearray bytes(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size())));
            if (!bytes)
                code = error::out_of_resources;
            else {
                std::copy(data.begin(), data.end(), static_cast<unsigned char*>(bytes->pvData));
                SAFEARRAY* given = bytes.get();
                if (FAILED(found->session->Write(&given, static_cast<LONG>(data.size()), &written)))
                    code = error::io_error;
            }
            if (end)
                found->response_started = false;
        }
        return reply(xid, device_write_result{code, static_cast<std::uint32_t>(written)});
    }

    std::optional<xdr_writer> device_read(std::uint32_t xid, xdr_reader& in, bool& delayed)
    {
        device_read_args args;
        decode(in, args);
        const std::uint32_t request = args.request_size, io_timeout = args.io_timeout;
        const std::int32_t flags = args.flags;
        const auto term_char = static_cast<BYTE>(args.term_char);
        link* const found = find(args.link);
        if (!found || request == 0)
            return reply(xid, device_read_result{found ? error::parameter : error::invalid_link, 0, {}});
        if (!admitted(args.link, flags, args.lock_timeout))
            return reply(xid, device_read_result{error::locked_by_another, 0, {}});
        IMessage& device = *found->session.Get();
        // A response comes from a write on this connection, or from an acquisition that ends and
        // lets a held *OPC? answer go: looked for in slices until io_timeout. The wait ends early
        // when the client goes, so that it holds no thread.
        if (!wait_for_response(device, std::chrono::milliseconds(io_timeout))) {
            m_open = false;
            return std::nullopt;
        }
        device.put_Timeout(0);
        found->own->put_TerminationCharacter(term_char);
        device.put_TerminationCharacterEnabled(flags & flag_term_char ? VARIANT_TRUE : VARIANT_FALSE);

        // The first piece waits up to io_timeout for a response; the reply is then sized once.
        unique_safearray piece;
        if (const HRESULT hr = device.Read(static_cast<LONG>(std::min<std::size_t>(request, read_piece)), piece.put());
            FAILED(hr)) {
            const error code = hr == session::timeout_expired ? error::io_timeout : error::io_error;
            return reply(xid, device_read_result{code, 0, {}});
        }
        std::size_t got = piece->rgsabound[0].cElements;
        const std::size_t left = got + sim::response_left(&device);
        const std::size_t size = std::min<std::size_t>(request, left);
        delayed = !found->response_started;
        found->response_started = true;
        if (!(flags & flag_term_char) && !m_options.segment && got < size) {
            // The size and the reason are known: the data go out as they are read, with no copy.
            // A reply that the first piece holds whole goes out below, in one send.
            xdr_writer head = accepted_reply(xid, rpc::success);
            encode_read_head(head, {error::none, size == left ? reason_end : reason_request_size, {}}, size);
            const std::size_t padding = (4 - size % 4) % 4;
            m_open = m_connection.begin_reply(head, head.message().size() + size + padding, delayed) &&
                     m_connection.send_part(piece->pvData, got);
            while (m_open && got < size) {
                piece.reset();
                m_open = SUCCEEDED(device.Read(static_cast<LONG>(std::min(size - got, read_piece)), piece.put())) &&
                         m_connection.send_part(piece->pvData, piece->rgsabound[0].cElements);
                got += m_open ? piece->rgsabound[0].cElements : 0;
            }
            m_open = m_open && m_connection.send_part("\0\0\0", padding);
            return std::nullopt;
        }
        xdr_writer out = accepted_reply(xid, rpc::success, size + 64);
        const std::size_t result_at = out.size();
        const std::span<unsigned char> data = encode_read_space(out, {error::none, 0, {}}, size);
        std::memcpy(data.data(), piece->pvData, got);
        LONG status = session::status_count_reached;
        device.get_LastStatus(&status);
        while (status == session::status_count_reached && got < size) {
            piece.reset();
            if (FAILED(device.Read(static_cast<LONG>(std::min(size - got, read_piece)), piece.put())))
                break;
            const std::size_t n = piece->rgsabound[0].cElements;
            std::memcpy(data.data() + got, piece->pvData, n);
            got += n;
            device.get_LastStatus(&status);
        }
        const std::int32_t reason = status == session::status_end                     ? reason_end
                                    : status == session::status_termination_character ? reason_term_char
                                    : got == request                                  ? reason_request_size
                                                                                      : 0;
        finish_read(out, result_at, reason, got);
        return out;
    }

    // Until the instrument has a response or `wait` passed: false when the client went first.
    bool wait_for_response(IMessage& device, std::chrono::milliseconds wait)
    {
        using clock = std::chrono::steady_clock;
        constexpr std::chrono::milliseconds slice(10);
        for (const auto until = clock::now() + wait; !sim::response_ready(&device);) {
            const auto now = clock::now();
            if (now >= until)
                return true;
            const auto next = std::min(until, now + slice);
            if (m_connection.closed_within(std::chrono::duration_cast<std::chrono::milliseconds>(next - now)))
                return false;
            std::this_thread::sleep_until(next); // what the client sent meanwhile fills the read-ahead
        }
        return true;
    }

    // device_readstb, device_trigger and device_clear, on the session's own interface.
    xdr_writer generic(std::uint32_t procedure, std::uint32_t xid, xdr_reader& in)
    {
        device_generic_args args;
        decode(in, args);
        link* const found = find(args.link);
        short status = 0;
        error code = !found                                                ? error::invalid_link
                     : !admitted(args.link, args.flags, args.lock_timeout) ? error::locked_by_another
                                                                           : error::none;
        IMorvaneSession* const own = code == error::none ? found->own.Get() : nullptr;
        if (own && procedure == core::device_readstb)
            code = FAILED(own->ReadStatusByte(&status)) ? error::io_error : error::none;
        else if (own && procedure == core::device_trigger)
            code = FAILED(own->AssertTrigger()) ? error::io_error : error::none;
        else if (own) {
            code = FAILED(own->Clear()) ? error::io_error : error::none;
            found->response_started = false;
        }
        if (procedure == core::device_readstb)
            return reply(xid, device_readstb_result{code, static_cast<std::uint8_t>(status)});
        return reply(xid, code);
    }

    const server_options& m_options;
    rpc_connection& m_connection;
    const std::shared_ptr<sim::memory_budget> m_budget; // the connection's, for all its links
    bool m_open = true;
    interrupt_sender m_interrupts; // outlives the links, whose instruments call it
    std::map<std::int32_t, link> m_links;
};

} // namespace

void serve_core_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget)
{
    rpc_connection connection(client, record_limit,
                              {options.idle_seconds, options.delay_ms, options.segment, options.drop_after});
    core_server server(options, connection, std::move(budget));
    while (const auto call = connection.receive()) {
        bool delayed = false;
        std::optional<xdr_writer> reply;
        try {
            reply = server.answer(*call, delayed);
        } catch (const xdr_error&) {
            break; // no call at all: nothing to answer
        }
        if (!server.open() || (reply && !connection.send(*reply, delayed)))
            break;
    }
}

} // namespace morvane::instrument_server
