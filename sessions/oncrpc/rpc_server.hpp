#pragma once
// The server side of ONC RPC above the connection: a call's header checked against the one
// program and version served, its procedure dispatched, the reply begun.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include "oncrpc/rpc_message.hpp"
#include "oncrpc/xdr.hpp"

namespace morvane::oncrpc {

// Makes the reply to `call` from its arguments; none when the reply went out already. Throws
// xdr_error when the arguments cannot be decoded.
using procedure_server = std::function<std::optional<xdr_writer>(const call_header& call, xdr_reader& arguments)>;

// The reply to one call record: refused for another RPC version, program or version, garbage_args
// when `serve` throws xdr_error, else what `serve` gives. Throws xdr_error when the record is no call.
std::optional<xdr_writer> serve_call(std::span<const unsigned char> record, std::uint32_t program,
                                     std::uint32_t version, const procedure_server& serve);

// An accepted reply so far, with room for `capacity` bytes; the results follow on success.
xdr_writer accepted_reply(std::uint32_t xid, std::uint32_t accept_stat, std::size_t capacity = 128);

} // namespace morvane::oncrpc
