#pragma once
// ONC RPC call and reply headers, with no authentication (AUTH_NONE).
#include <cstdint>
#include "oncrpc/xdr.hpp"

namespace morvane::oncrpc {

struct call_header {
    std::uint32_t xid = 0;
    std::uint32_t rpc_version = 2;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
};

// A call header; the arguments follow it.
void put_call(xdr_writer& out, const call_header& call);
// A call's header, its credentials and verifier skipped; throws xdr_error when the message is
// no call. The caller answers an rpc_version other than 2 with put_version_mismatch.
call_header get_call(xdr_reader& in);

// An accepted reply with `accept_stat`; the results follow it when that is success.
void put_accepted_reply(xdr_writer& out, std::uint32_t xid, std::uint32_t accept_stat);
// A denied reply: the RPC version is not 2.
void put_version_mismatch(xdr_writer& out, std::uint32_t xid);
// A reply's accept_stat, the reader left on its results; throws xdr_error when the message is
// no reply to `xid` or a denied one.
std::uint32_t get_accepted_reply(xdr_reader& in, std::uint32_t xid);

} // namespace morvane::oncrpc
