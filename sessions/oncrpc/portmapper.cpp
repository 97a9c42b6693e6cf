#include "oncrpc/portmapper.hpp"

#include <memory>
#include <vector>
#include "oncrpc/rpc_client.hpp"
#include "oncrpc/rpc_server.hpp"

namespace morvane::oncrpc {

void encode(xdr_writer& out, const mapping& arguments)
{
    out.put(arguments.program);
    out.put(arguments.version);
    out.put(arguments.protocol);
    out.put(arguments.port);
}

void decode(xdr_reader& in, mapping& arguments)
{
    arguments.program = in.get();
    arguments.version = in.get();
    arguments.protocol = in.get();
    arguments.port = in.get();
}

void encode(xdr_writer& out, const getport_result& result) { out.put(result.port); }

void decode(xdr_reader& in, getport_result& result) { result.port = in.get(); }

std::optional<xdr_writer> portmapper_reply(std::span<const unsigned char> message, const mapping& served)
{
    try {
        return serve_call(message, portmapper::program, portmapper::version,
                          [&](const call_header& call, xdr_reader& in) -> std::optional<xdr_writer> {
                              if (call.procedure == portmapper::null_proc)
                                  return accepted_reply(call.xid, rpc::success);
                              if (call.procedure != portmapper::getport)
                                  return accepted_reply(call.xid, rpc::proc_unavail);
                              mapping asked;
                              decode(in, asked);
                              const bool known = asked.program == served.program && asked.version == served.version &&
                                                 asked.protocol == served.protocol;
                              xdr_writer out = accepted_reply(call.xid, rpc::success);
                              encode(out, getport_result{known ? served.port : 0});
                              return out;
                          });
    } catch (const xdr_error&) {
        return std::nullopt;
    }
}

unsigned short ask_port(const std::string& host, unsigned short portmapper_port, std::uint32_t program,
                        std::uint32_t version, transport::deadline until)
{
    rpc_client mapper(std::make_unique<transport::tcp_connection>(host, std::to_string(portmapper_port), until),
                      portmapper::program, portmapper::version, 1024);
    xdr_writer call = mapper.start(portmapper::getport);
    encode(call, mapping{program, version, portmapper::tcp, 0});
    std::size_t at = 0;
    const std::vector<unsigned char> reply = mapper.call(call, until, at);
    xdr_reader in{std::span(reply).subspan(at)};
    getport_result result;
    decode(in, result);
    if (result.port > 65535)
        throw xdr_error("the portmapper gave port " + std::to_string(result.port));
    return static_cast<unsigned short>(result.port);
}

} // namespace morvane::oncrpc
