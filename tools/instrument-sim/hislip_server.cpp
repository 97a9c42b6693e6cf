#include "hislip_server.hpp"

#include <algorithm>
#include <new>
#include "hislip_async_channel.hpp"
#include "hislip_channel.hpp"
#include "lock_table.hpp"
#include "hislip_session.hpp"
#include "hislip_sync_channel.hpp"
#include "sim/simulated_session.hpp"
#include "transport/client_socket.hpp"

namespace morvane::instrument_server {
namespace {

using hislip::header;
using hislip::message_type;
using transport::unique_socket;
namespace fatal = hislip::fatal;

// Runs `serve`; a peer that broke the framing is told why with `send_fatal`, and closed.
template<typename Serve, typename SendFatal>
void guarded(hislip_channel& channel, Serve&& serve, SendFatal&& send_fatal)
{
    try {
        serve();
    } catch (const hislip::protocol_error& error) {
        send_fatal(error.fatal_code, error.what());
        channel.close_after_sending();
    }
}

void serve_sync(hislip_channel& channel, unique_socket& socket, const header& initialize, const server_options& options,
                std::shared_ptr<sim::memory_budget> budget)
{
    if (initialize.parameter >> 16 < hislip::version_1_0) {
        channel.fatal(fatal::invalid_initialization, "a protocol version below 1.0");
        return;
    }
    // A session takes two connections.
    const std::size_t most = std::max(1u, options.max_connections / 2);
    const auto session = hislip_sessions().open(socket, most, [&] {
        auto instrument = sim::create_simulated_session(options.seed, L"SIM", sim::default_timeout_ms, budget);
        // Responses are relayed whole, up to END, and read only when ready.
        if (instrument &&
            (FAILED(instrument->put_TerminationCharacterEnabled(VARIANT_FALSE)) || FAILED(instrument->put_Timeout(0))))
            instrument = nullptr;
        return instrument;
    });
    if (!session) {
        channel.fatal(fatal::too_many_clients, "the server has as many sessions as it takes");
        return;
    }
    // The session ends with its synchronous channel, and lets go of its locks.
    struct closing {
        hislip_session& session;
        ~closing()
        {
            session.end();
            hislip_sessions().remove(session.id);
            server_locks().release_all(session.id);
        }
    } const close{*session};
    channel.stop_when(session->ended);
    // The instrument's requests for service go to the client on the asynchronous channel, from
    // whichever thread raised them. The hook holds the session weakly: the session holds the
    // instrument, which holds the hook.
    sim::on_service_request(session->instrument.Get(), [weak = std::weak_ptr(session)](std::uint8_t) {
        if (const auto alive = weak.lock())
            alive->send_async(message_type::async_service_request, 0, 0);
    });
    if (!channel.send(message_type::initialize_response, options.overlapped ? hislip::overlapped : 0,
                      std::uint32_t{hislip::version_1_0} << 16 | session->id))
        return;
    guarded(
        channel, [&] { serve_sync_channel(channel, *session, options); },
        [&](std::uint8_t code, std::string_view text) { channel.send(message_type::fatal_error, code, 0, text); });
}

void serve_async(hislip_channel& channel, unique_socket& socket, const header& initialize,
                 const server_options& options)
{
    const auto session = hislip_sessions().find(initialize.parameter);
    if (!session || !session->attach_async(socket)) {
        channel.fatal(fatal::invalid_initialization, "no session with this ID waits for its asynchronous channel");
        return;
    }
    // Either channel's end is the session's.
    struct closing {
        hislip_session& session;
        ~closing() { session.end(); }
    } const close{*session};
    // An asynchronous channel is quiet while its client works: its session's bounds are its own.
    channel.set_idle(0);
    channel.stop_when(session->ended);
    if (!session->send_async(message_type::async_initialize_response, 0, vendor_id))
        return;
    guarded(
        channel, [&] { serve_async_channel(channel, *session, options); },
        [&](std::uint8_t code, std::string_view text) {
            session->send_async(message_type::fatal_error, code, 0,
                                {reinterpret_cast<const unsigned char*>(text.data()), text.size()});
        });
}

} // namespace

void serve_hislip_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget)
{
    unique_socket socket(client); // moved into the session that it joins
    transport::prepare_client(client, options.idle_seconds);
    hislip_channel channel(client, options.idle_seconds);
    try {
        guarded(
            channel,
            [&] {
                const auto first = channel.next();
                if (!first)
                    return;
                const bool initialize = first->type == message_type::initialize;
                if (!initialize && first->type != message_type::async_initialize) {
                    channel.fatal(fatal::invalid_initialization,
                                  "the first message is not Initialize or AsyncInitialize");
                    return;
                }
                if (first->length > control_payload_limit) {
                    channel.fatal(fatal::poorly_formed_header, "a payload too long for its message");
                    return;
                }
                // Initialize's sub-address: every name is this one instrument.
                if (!channel.small_payload())
                    return;
                if (initialize)
                    serve_sync(channel, socket, *first, options, std::move(budget));
                else
                    serve_async(channel, socket, *first, options);
            },
            [&](std::uint8_t code, std::string_view text) { channel.send(message_type::fatal_error, code, 0, text); });
    } catch (const std::bad_alloc&) {
        // Out of memory: the connection closes.
    }
}

} // namespace morvane::instrument_server
