#include "oncrpc/rpc_server.hpp"

#include "oncrpc/rpc_numbers.hpp"

namespace morvane::oncrpc {

xdr_writer accepted_reply(std::uint32_t xid, std::uint32_t accept_stat, std::size_t capacity)
{
    xdr_writer out(capacity);
    put_accepted_reply(out, xid, accept_stat);
    return out;
}

std::optional<xdr_writer> serve_call(std::span<const unsigned char> record, std::uint32_t program,
                                     std::uint32_t version, const procedure_server& serve)
{
    xdr_reader in(record);
    const call_header call = get_call(in);
    if (call.rpc_version != rpc::version) {
        xdr_writer out;
        put_version_mismatch(out, call.xid);
        return out;
    }
    if (call.program != program)
        return accepted_reply(call.xid, rpc::prog_unavail);
    if (call.version != version) {
        xdr_writer out = accepted_reply(call.xid, rpc::prog_mismatch);
        out.put(version); // lowest
        out.put(version); // highest
        return out;
    }
    try {
        return serve(call, in);
    } catch (const xdr_error&) {
        return accepted_reply(call.xid, rpc::garbage_args);
    }
}

} // namespace morvane::oncrpc
