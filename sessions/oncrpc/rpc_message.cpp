#include "oncrpc/rpc_message.hpp"

#include <string>
#include "oncrpc/rpc_numbers.hpp"

namespace morvane::oncrpc {
namespace {

constexpr std::size_t max_auth_bytes = 400; // ONC RPC's limit on a credential's body

void put_no_auth(xdr_writer& out)
{
    out.put(rpc::auth_none);
    out.put(0);
}

void skip_auth(xdr_reader& in)
{
    in.get(); // the flavor: any is taken, none is checked
    in.get_opaque(max_auth_bytes);
}

} // namespace

void put_call(xdr_writer& out, const call_header& call)
{
    out.put(call.xid);
    out.put(rpc::call);
    out.put(call.rpc_version);
    out.put(call.program);
    out.put(call.version);
    out.put(call.procedure);
    put_no_auth(out); // credentials
    put_no_auth(out); // verifier
}

call_header get_call(xdr_reader& in)
{
    call_header call;
    call.xid = in.get();
    if (const std::uint32_t type = in.get(); type != rpc::call)
        throw xdr_error("an RPC message of type " + std::to_string(type) + " where a call was expected");
    call.rpc_version = in.get();
    if (call.rpc_version != rpc::version)
        return call; // the rest may be laid out otherwise
    call.program = in.get();
    call.version = in.get();
    call.procedure = in.get();
    skip_auth(in);
    skip_auth(in);
    return call;
}

void put_accepted_reply(xdr_writer& out, std::uint32_t xid, std::uint32_t accept_stat)
{
    out.put(xid);
    out.put(rpc::reply);
    out.put(rpc::msg_accepted);
    put_no_auth(out);
    out.put(accept_stat);
}

void put_version_mismatch(xdr_writer& out, std::uint32_t xid)
{
    out.put(xid);
    out.put(rpc::reply);
    out.put(rpc::msg_denied);
    out.put(rpc::rpc_mismatch);
    out.put(rpc::version); // lowest
    out.put(rpc::version); // highest
}

std::uint32_t get_accepted_reply(xdr_reader& in, std::uint32_t xid)
{
    if (const std::uint32_t got = in.get(); got != xid)
        throw xdr_error("a reply to call " + std::to_string(got) + " where " + std::to_string(xid) + " was expected");
    if (in.get() != rpc::reply)
        throw xdr_error("an RPC message that is no reply");
    if (in.get() != rpc::msg_accepted)
        throw xdr_error("the RPC call was denied");
    skip_auth(in);
    return in.get();
}

} // namespace morvane::oncrpc
