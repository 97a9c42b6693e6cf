#pragma once
// One HiSLIP connection as the server sees it: messages framed from the socket with every wait
// bounded (a client that sends nothing for the idle timeout, or a session that ended, ends it),
// and messages sent whole.
#include <winsock2.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include "hislip/message_stream.hpp"
#include "transport/client_socket.hpp"

namespace morvane::instrument_server {

// The largest payload of a message other than Data taken (lock names are short): a client that
// claims more is poorly formed and closed.
inline constexpr std::size_t control_payload_limit = 64 << 10;

// Sends a message whole; false when the socket failed.
bool send_message(SOCKET socket, const hislip::header& message, std::span<const unsigned char> payload = {});
inline bool send_message(SOCKET socket, hislip::message_type type, std::uint8_t control, std::uint32_t parameter,
                         std::string_view payload = {})
{
    return send_message(socket, {type, control, parameter, payload.size()},
                        {reinterpret_cast<const unsigned char*>(payload.data()), payload.size()});
}
bool send_bytes(SOCKET socket, std::span<const unsigned char> bytes);

class hislip_channel {
public:
    // `idle_seconds`: a client that sends nothing this long ends the channel (0: never).
    hislip_channel(SOCKET socket, double idle_seconds) noexcept
        : m_socket(socket), m_idle_seconds(idle_seconds), m_ahead(socket, 0)
    {}
    hislip_channel(const hislip_channel&) = delete;
    hislip_channel& operator=(const hislip_channel&) = delete;

    SOCKET socket() const noexcept { return m_socket; }
    void set_idle(double seconds) noexcept { m_idle_seconds = seconds; }
    // From now on waits end, as if the client had gone, once `stop` is set.
    void stop_when(const std::atomic<bool>& stop) noexcept { m_stop = &stop; }

    // The next header, none when the client went; throws hislip::protocol_error.
    std::optional<hislip::header> next() { return m_stream.next_header(receiver()); }
    std::uint64_t payload_left() const noexcept { return m_stream.payload_left(); }
    // Part of the payload, as much as comes at once; 0 when the client went or the payload is done.
    std::size_t payload(std::span<unsigned char> to) { return m_stream.payload(to, receiver()); }
    // A payload of at most control_payload_limit bytes, which the caller checked; none when the client went.
    std::optional<std::string> small_payload();
    // Whether bytes have come that no one read yet.
    bool readable_now();
    // Whether the client closed the connection within `wait`, what it sent meanwhile kept for next().
    bool closed_within(std::chrono::milliseconds wait) { return m_ahead.closed_within(wait); }

    bool send(hislip::message_type type, std::uint8_t control, std::uint32_t parameter, std::string_view payload = {})
    {
        return send_message(m_socket, type, control, parameter, payload);
    }
    // FatalError, then close_after_sending().
    void fatal(std::uint8_t code, std::string_view text)
    {
        send(hislip::message_type::fatal_error, code, 0, text);
        close_after_sending();
    }
    // The end of the connection: its sending side closed, and what the client still sends read
    // and dropped for half a second and 1 MiB at most (closing with bytes unread would reset the
    // connection and could lose the last message on its way).
    void close_after_sending();

private:
    std::size_t receive(std::span<unsigned char> into);
    struct receiver_of {
        hislip_channel* channel;
        std::size_t operator()(std::span<unsigned char> into) const { return channel->receive(into); }
    };
    receiver_of receiver() noexcept { return {this}; }

    SOCKET m_socket;
    double m_idle_seconds;
    const std::atomic<bool>* m_stop = nullptr;
    hislip::message_stream m_stream;
    transport::client_stream m_ahead; // read only while a wait looks for the client's end
};

} // namespace morvane::instrument_server
