#pragma once
// The portmapper (program 100000 version 2): its GETPORT call, the program that answers it for
// one mapping over TCP and UDP, and a client that asks it over TCP.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include "oncrpc/rpc_numbers.hpp"
#include "oncrpc/xdr.hpp"
#include "transport/tcp_connection.hpp"

namespace morvane::oncrpc {

// GETPORT's arguments, and what a portmapper serves.
struct mapping {
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t protocol = portmapper::tcp;
    std::uint32_t port = 0; // ignored in GETPORT's arguments
};
void encode(xdr_writer& out, const mapping& arguments);
void decode(xdr_reader& in, mapping& arguments);

// GETPORT's reply: 0 when the program is not registered.
struct getport_result {
    std::uint32_t port = 0;
};
void encode(xdr_writer& out, const getport_result& result);
void decode(xdr_reader& in, getport_result& result);

// The reply to one portmapper call, GETPORT answered with `served`'s port for its program,
// version and protocol; none for a message that is no call.
std::optional<xdr_writer> portmapper_reply(std::span<const unsigned char> call, const mapping& served);

// The port that the portmapper at `host`:`portmapper_port` gives for `program` and `version`
// over TCP; 0 when none is registered. Throws as rpc_client::call, and tcp_failure when it
// cannot be reached.
unsigned short ask_port(const std::string& host, unsigned short portmapper_port, std::uint32_t program,
                        std::uint32_t version, transport::deadline until);

} // namespace morvane::oncrpc
