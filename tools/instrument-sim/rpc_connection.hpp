#pragma once
// One ONC RPC connection over TCP, server side: call records in, reply records out, the
// replies sent as the fault options say (--delay, --segment, --drop-after); a client idle for
// longer than --idle-timeout is closed.
#include <winsock2.h>
#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>
#include "server_options.hpp"
#include "vxi11/record_receiver.hpp"
#include "vxi11/xdr.hpp"

namespace morvane::instrument_server {

class rpc_connection {
public:
    // `record_limit`: the largest call taken; a larger one closes the connection.
    rpc_connection(SOCKET client, std::size_t record_limit, const server_options& faults);
    ~rpc_connection();
    rpc_connection(const rpc_connection&) = delete;
    rpc_connection& operator=(const rpc_connection&) = delete;

    // The next call; none once the client went or was idle too long, the connection failed or
    // the call was too large.
    std::optional<std::vector<unsigned char>> receive();
    // Sends a reply, after the delay when `delayed`, in fragments of --segment bytes sent
    // apart; false once the connection is to close (--drop-after closes it mid-reply).
    bool send(vxi11::xdr_writer& reply, bool delayed = false);
    // A reply sent as it is made, without --segment: `head` first (after the delay when
    // `delayed`), then send_part until the message's `size` bytes are all sent.
    bool begin_reply(const vxi11::xdr_writer& head, std::size_t size, bool delayed);
    // Whether the client closes the connection within `wait` (false too when it sends a call first).
    bool closed_within(std::chrono::milliseconds wait) const;
    bool send_part(const void* bytes, std::size_t count)
    {
        return send_bytes(static_cast<const unsigned char*>(bytes), count);
    }

private:
    bool send_bytes(const unsigned char* bytes, std::size_t count);

    SOCKET client_;
    const server_options& faults_;
    vxi11::record_stream calls_;
    std::size_t sent_ = 0;
};

} // namespace morvane::instrument_server
