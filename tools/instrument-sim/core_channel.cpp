#include "core_channel.hpp"

#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <morvane_sessions.h>
#include "platform/safearray.hpp"
#include "rpc_connection.hpp"
#include "session_codes.hpp"
#include "sim/simulated_session.hpp"
#include "vxi11/rpc_message.hpp"
#include "vxi11/vxi11_numbers.hpp"

namespace morvane::instrument_server {
namespace {

using namespace vxi11;
using Microsoft::WRL::ComPtr;
using error = device_error;

constexpr std::size_t record_limit = core_max_write + 1024; // a full device_write and its header
constexpr std::size_t max_links = 16;                          // on one connection
constexpr std::size_t read_piece = 64 << 10; // the session's arrays come from reused heap memory at this size

std::atomic<std::int32_t> next_link_id{1};

struct link {
    ComPtr<IMessage> session;
    ComPtr<IMorvaneSession> own; // the same session's own interface
    bool response_started = false; // the current response had its first reply: --delay holds only that one
};

class core_server {
public:
    core_server(const server_options& options, rpc_connection& connection, std::shared_ptr<sim::memory_budget> budget)
        : options_(options), connection_(connection), budget_(std::move(budget)) {}

    // False once a reply sent in parts failed: the connection is to close.
    bool open() const noexcept { return open_; }

    // The reply to one call, none when it was sent already; `delayed` tells whether it starts a response.
    std::optional<xdr_writer> answer(std::span<const unsigned char> record, bool& delayed)
    {
        xdr_reader in(record);
        const call_header call = get_call(in);
        xdr_writer out;
        if (call.rpc_version != rpc::version) {
            put_version_mismatch(out, call.xid);
        } else if (call.program != core::program) {
            put_accepted_reply(out, call.xid, rpc::prog_unavail);
        } else if (call.version != core::version) {
            put_accepted_reply(out, call.xid, rpc::prog_mismatch);
            out.put(core::version);
            out.put(core::version);
        } else {
            try {
                return procedure(call, in, delayed);
            } catch (const xdr_error&) {
                put_accepted_reply(out, call.xid, rpc::garbage_args);
            }
        }
        return out;
    }

private:
    // A success reply so far, for the results to follow.
    static xdr_writer results(std::uint32_t xid, error code, std::size_t capacity = 128)
    {
        xdr_writer out(capacity);
        put_accepted_reply(out, xid, rpc::success);
        out.put_signed(static_cast<std::int32_t>(code));
        return out;
    }

    link* find(std::int32_t id)
    {
        const auto found = links_.find(id);
        return found == links_.end() ? nullptr : &found->second;
    }

    std::optional<xdr_writer> procedure(const call_header& call, xdr_reader& in, bool& delayed)
    {
        const std::uint32_t xid = call.xid;
        switch (call.procedure) {
        case core::create_link:
            return create_link(xid, in);
        case core::device_write:
            return device_write(xid, in);
        case core::device_read:
            return device_read(xid, in, delayed);
        case core::device_readstb:
        case core::device_trigger:
        case core::device_clear:
            return generic(call.procedure, xid, in);
        case core::device_lock:
        case core::device_unlock: {
            // One instrument a link: the lock is always had.
            link* const found = find(in.get_signed());
            return results(xid, found ? error::none : error::invalid_link);
        }
        case core::destroy_link:
            return results(xid, links_.erase(in.get_signed()) ? error::none : error::invalid_link);
        case core::device_remote:
        case core::device_local:
        case core::device_enable_srq:
        case core::create_intr_chan:
        case core::destroy_intr_chan:
            return results(xid, error::not_supported);
        case core::device_docmd: {
            xdr_writer out = results(xid, error::not_supported);
            out.put(0); // no data_out
            return out;
        }
        default: {
            xdr_writer out;
            put_accepted_reply(out, xid, rpc::proc_unavail);
            return out;
        }
        }
    }

    xdr_writer create_link(std::uint32_t xid, xdr_reader& in)
    {
        in.get_signed(); // clientId
        in.get_bool();   // lockDevice: the lock is always had
        in.get();        // lock_timeout
        in.get_string(256); // the device name: every name is this one instrument
        ComPtr<IMessage> session =
            links_.size() < max_links
                ? sim::create_simulated_session(options_.seed, L"SIM", sim::default_timeout_ms, budget_)
                : nullptr;
        ComPtr<IMorvaneSession> own;
        if (!session || FAILED(session.As(&own)))
            return results(xid, error::out_of_resources);
        // Messages are framed by END on this channel, not by line feeds.
        session->put_TerminationCharacterEnabled(VARIANT_FALSE);
        const std::int32_t id = next_link_id++;
        links_[id] = link{std::move(session), std::move(own)};
        xdr_writer out = results(xid, error::none);
        out.put_signed(id);
        out.put(0); // abortPort: there is no abort channel
        out.put(static_cast<std::uint32_t>(core_max_receive));
        return out;
    }

    xdr_writer device_write(std::uint32_t xid, xdr_reader& in)
    {
        const std::int32_t id = in.get_signed();
        in.get(); // io_timeout: the simulated instrument takes bytes at once
        in.get(); // lock_timeout
        const std::int32_t flags = in.get_signed();
        const auto data = in.get_opaque(record_limit);
        link* const found = find(id);
        error code = !found ? error::invalid_link : data.size() > core_max_write ? error::parameter : error::none;
        LONG written = 0;
        if (code == error::none) {
            const bool end = (flags & flag_end) != 0;
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
        xdr_writer out = results(xid, code);
        out.put(static_cast<std::uint32_t>(written));
        return out;
    }

    std::optional<xdr_writer> device_read(std::uint32_t xid, xdr_reader& in, bool& delayed)
    {
        const std::int32_t id = in.get_signed();
        const std::uint32_t request = in.get();
        const std::uint32_t io_timeout = in.get();
        in.get(); // lock_timeout
        const std::int32_t flags = in.get_signed();
        const auto term_char = static_cast<BYTE>(in.get());
        link* const found = find(id);
        if (!found || request == 0) {
            xdr_writer out = results(xid, found ? error::parameter : error::invalid_link);
            out.put(0);
            out.put(0);
            return out;
        }
        IMessage& device = *found->session.Get();
        // Only a write on this connection makes a response: with none waiting, none comes within
        // io_timeout. The wait ends early when the client goes, so that it holds no thread.
        if (!sim::response_ready(&device) && connection_.closed_within(std::chrono::milliseconds(io_timeout))) {
            open_ = false;
            return std::nullopt;
        }
        device.put_Timeout(0);
        found->own->put_TerminationCharacter(term_char);
        device.put_TerminationCharacterEnabled(flags & flag_term_char ? VARIANT_TRUE : VARIANT_FALSE);

        // The first piece waits up to io_timeout for a response; the reply is then sized once.
        unique_safearray piece;
        if (const HRESULT hr = device.Read(static_cast<LONG>(std::min<std::size_t>(request, read_piece)), piece.put());
            FAILED(hr)) {
            xdr_writer out = results(xid, hr == session::timeout_expired ? error::io_timeout : error::io_error);
            out.put(0);
            out.put(0);
            return out;
        }
        std::size_t got = piece->rgsabound[0].cElements;
        const std::size_t left = got + sim::response_left(&device);
        const std::size_t size = std::min<std::size_t>(request, left);
        delayed = !found->response_started;
        found->response_started = true;
        if (!(flags & flag_term_char) && !options_.segment && got < size) {
            // The size and the reason are known: the data go out as they are read, with no copy.
            // A reply that the first piece holds whole goes out below, in one send.
            xdr_writer head = results(xid, error::none);
            head.put(static_cast<std::uint32_t>(size == left ? reason_end : reason_request_size));
            head.put(static_cast<std::uint32_t>(size));
            const std::size_t padding = (4 - size % 4) % 4;
            open_ = connection_.begin_reply(head, head.message().size() + size + padding, delayed) &&
                    connection_.send_part(piece->pvData, got);
            while (open_ && got < size) {
                piece.reset();
                open_ = SUCCEEDED(device.Read(static_cast<LONG>(std::min(size - got, read_piece)), piece.put())) &&
                        connection_.send_part(piece->pvData, piece->rgsabound[0].cElements);
                got += open_ ? piece->rgsabound[0].cElements : 0;
            }
            open_ = open_ && connection_.send_part("\0\0\0", padding);
            return std::nullopt;
        }
        xdr_writer out = results(xid, error::none, size + 64);
        const std::size_t reason_at = out.size();
        out.put(0);
        const std::span<unsigned char> data = out.put_opaque_space(size);
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
        out.shrink_opaque(got);
        const std::int32_t reason = status == session::status_end                     ? reason_end
                                    : status == session::status_termination_character ? reason_term_char
                                    : got == request                                  ? reason_request_size
                                                                                      : 0;
        out.put_at(reason_at, static_cast<std::uint32_t>(reason));
        return out;
    }

    // device_readstb, device_trigger and device_clear, on the session's own interface.
    xdr_writer generic(std::uint32_t procedure, std::uint32_t xid, xdr_reader& in)
    {
        const std::int32_t id = in.get_signed();
        in.get(); // flags
        in.get(); // lock_timeout
        in.get(); // io_timeout
        link* const found = find(id);
        short status = 0;
        error code = !found ? error::invalid_link : error::none;
        IMorvaneSession* const own = found ? found->own.Get() : nullptr;
        if (found && procedure == core::device_readstb)
            code = FAILED(own->ReadStatusByte(&status)) ? error::io_error : error::none;
        else if (found && procedure == core::device_trigger)
            code = FAILED(own->AssertTrigger()) ? error::io_error : error::none;
        else if (found) {
            code = FAILED(own->Clear()) ? error::io_error : error::none;
            found->response_started = false;
        }
        xdr_writer out = results(xid, code);
        if (procedure == core::device_readstb)
            out.put(static_cast<std::uint8_t>(status));
        return out;
    }

    const server_options& options_;
    rpc_connection& connection_;
    const std::shared_ptr<sim::memory_budget> budget_; // the connection's, for all its links
    bool open_ = true;
    std::map<std::int32_t, link> links_;
};

} // namespace

void serve_core_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget)
{
    rpc_connection connection(client, record_limit, options);
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
