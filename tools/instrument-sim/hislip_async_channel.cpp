#include "hislip_async_channel.hpp"

#include <chrono>
#include <thread>
#include "lock_table.hpp"

namespace morvane::instrument_server {
namespace {

using hislip::header;
using hislip::message_type;

std::span<const unsigned char> bytes_of(std::string_view text)
{
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// False once the connection is to close.
bool answer(hislip_channel& channel, hislip_session& session, const server_options& options, const header& message)
{
    // Every send goes through the session, which keeps the other thread's AsyncInterrupted apart.
    const auto reply = [&session](message_type type, std::uint8_t control, std::uint32_t parameter,
                                  std::span<const unsigned char> payload = {}) {
        return session.send_async(type, control, parameter, payload);
    };
    switch (message.type) {
    case message_type::async_lock:
    case message_type::async_remote_local_control:
    case message_type::async_maximum_message_size:
    case message_type::async_device_clear:
    case message_type::async_status_query:
    case message_type::async_lock_info: break;
    default:
        return reply(message_type::error, hislip::error::unrecognized_type, 0,
                     bytes_of("unrecognized message type on the asynchronous channel"));
    }
    if (message.length > control_payload_limit) {
        reply(message_type::fatal_error, hislip::fatal::poorly_formed_header, 0,
              bytes_of("a payload too long for its message"));
        channel.close_after_sending();
        return false;
    }
    const std::optional<std::string> payload = channel.small_payload();
    if (!payload)
        return false;
    switch (message.type) {
    case message_type::async_maximum_message_size: {
        if (const auto size = hislip::decode_size(bytes_of(*payload)))
            session.client_maximum = *size;
        return reply(message_type::async_maximum_message_size_response, 0, 0,
                     hislip::encode_size(server_maximum_message_size));
    }
    case message_type::async_device_clear:
        ++session.clears; // a response being sent stops
        session.own->Clear();
        return reply(message_type::async_device_clear_acknowledge, options.overlapped ? hislip::overlapped : 0, 0);
    case message_type::async_status_query: {
        // The status follows the message the client sent last, which may still be on its way
        // on the other channel; a second at most is waited for it.
        const auto named = message.parameter;
        for (int waited = 0;
             static_cast<std::int32_t>(session.last_taken - named) < 0 && waited < 1000 && !session.ended; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        short status = 0;
        session.own->ReadStatusByte(&status);
        return reply(message_type::async_status_response, static_cast<std::uint8_t>(status), 0);
    }
    case message_type::async_lock: {
        lock_table& locks = server_locks();
        const auto gone = [&] { return session.ended.load() || channel.closed_within(std::chrono::milliseconds(0)); };
        std::uint8_t code = hislip::lock::refused;
        if (message.control == hislip::lock::request) {
            const lock_outcome got =
                locks.request(session.id, *payload, std::chrono::milliseconds(message.parameter), gone);
            code = got == lock_outcome::granted     ? hislip::lock::granted
                   : got == lock_outcome::timed_out ? hislip::lock::failed
                                                    : hislip::lock::refused;
        } else if (message.control == hislip::lock::release) {
            const released what = locks.release(session.id);
            code = what == released::exclusive ? hislip::lock::granted // "exclusive released"
                   : what == released::shared  ? hislip::lock::shared_released
                                               : hislip::lock::refused;
        }
        return reply(message_type::async_lock_response, code, 0);
    }
    case message_type::async_lock_info: {
        const auto [exclusive, holders] = server_locks().info();
        return reply(message_type::async_lock_info_response, exclusive ? 1 : 0, holders);
    }
    default: // AsyncRemoteLocalControl: the simulated instrument has no front panel to lock out
        return reply(message_type::async_remote_local_response, 0, 0);
    }
}

} // namespace

void serve_async_channel(hislip_channel& channel, hislip_session& session, const server_options& options)
{
    while (const auto message = channel.next())
        if (!answer(channel, session, options, *message))
            return;
}

} // namespace morvane::instrument_server
