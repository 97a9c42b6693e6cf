#pragma once
// One ONC RPC connection over TCP, server side: call records in, reply records out, the
// replies sent as its faults say (a simulator's delay, segments and drop); a client idle for
// longer than its limit is closed.
#include <winsock2.h>
#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>
#include "oncrpc/record_receiver.hpp"
#include "oncrpc/xdr.hpp"
#include "transport/client_socket.hpp"

namespace morvane::oncrpc {

// How a connection waits on its client and sends its replies; all off by default.
struct connection_faults {
    double idle_seconds = 0;    // a client that sends nothing this long is closed; 0: never
    unsigned delay_ms = 0;      // before a reply that starts a response
    std::size_t segment = 0;    // replies in fragments of this many bytes, sent apart; 0: whole
    std::size_t drop_after = 0; // the connection closed after this many bytes sent; 0: never
};

class rpc_connection {
public:
    // `record_limit`: the largest call taken; a larger one closes the connection.
    rpc_connection(SOCKET client, std::size_t record_limit, const connection_faults& faults = {});
    ~rpc_connection();
    rpc_connection(const rpc_connection&) = delete;
    rpc_connection& operator=(const rpc_connection&) = delete;

    // The next call; none once the client went or was idle too long, the connection failed or
    // the call was too large.
    std::optional<std::vector<unsigned char>> receive();
    // Sends a reply, after the delay when `delayed`, in fragments of `segment` bytes sent
    // apart; false once the connection is to close (`drop_after` closes it mid-reply).
    bool send(xdr_writer& reply, bool delayed = false);
    // A reply sent as it is made, without segments: `head` first (after the delay when
    // `delayed`), then send_part until the message's `size` bytes are all sent.
    bool begin_reply(const xdr_writer& head, std::size_t size, bool delayed);
    // Whether the client closes the connection within `wait`, the calls it sends meanwhile kept
    // for receive().
    bool closed_within(std::chrono::milliseconds wait) { return m_stream.closed_within(wait); }
    bool send_part(const void* bytes, std::size_t count)
    {
        return send_bytes(static_cast<const unsigned char*>(bytes), count);
    }

private:
    bool send_bytes(const unsigned char* bytes, std::size_t count);

    SOCKET m_client;
    const connection_faults m_faults;
    transport::client_stream m_stream;
    record_stream m_calls;
    std::size_t m_sent = 0;
};

} // namespace morvane::oncrpc
