#pragma once
// One of the session's two connections, as the session uses it: messages sent whole, headers
// and short payloads received with every wait bounded by a deadline.
#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <vector>
#include "hislip/hislip_messages.hpp"
#include "hislip/message_stream.hpp"
#include "transport/tcp_connection.hpp"

namespace morvane::hislip {

// The most a payload other than Data may claim (an error's text, a lock's name).
inline constexpr std::uint64_t control_payload_limit = 64 << 10;

struct channel {
    std::unique_ptr<transport::tcp_connection> connection;
    message_stream stream;

    void send(const header& message, std::span<const unsigned char> payload, transport::deadline until)
    {
        const header_bytes head = encode(message);
        // A short message goes in one send: with Nagle off, two would be two packets.
        if (payload.size() <= 4096) {
            unsigned char whole[header_size + 4096];
            std::copy(head.begin(), head.end(), whole);
            std::copy(payload.begin(), payload.end(), whole + header_size);
            connection->send_all(whole, header_size + payload.size(), until);
            return;
        }
        connection->send_all(head.data(), head.size(), until);
        connection->send_all(payload.data(), payload.size(), until);
    }
    auto receiver(transport::deadline until)
    {
        return [this, until](std::span<unsigned char> to) { return connection->receive_into(to, until); };
    }
    // The next header; the stream never ends here, a closed connection throws.
    header next(transport::deadline until) { return *stream.next_header(receiver(until)); }
    // Throws protocol_error for a message other than Data that claims more than it may.
    static void check_small(const header& message)
    {
        if (message.length > control_payload_limit)
            throw protocol_error(fatal::poorly_formed_header, type_name(static_cast<std::uint8_t>(message.type)) +
                                                                  " claims a payload of " +
                                                                  std::to_string(message.length) + " bytes");
    }
    // A short payload, whole.
    std::vector<unsigned char> small_payload(const header& message, transport::deadline until)
    {
        check_small(message);
        std::vector<unsigned char> payload(static_cast<std::size_t>(message.length));
        stream.whole_payload(payload, receiver(until));
        return payload;
    }
};

} // namespace morvane::hislip
