#include "vxi11/rpc_client.hpp"

#include <chrono>
#include <utility>
#include "vxi11/record_receiver.hpp"
#include "vxi11/rpc_message.hpp"
#include "vxi11/vxi11_numbers.hpp"

namespace morvane::vxi11 {

rpc_client::rpc_client(std::unique_ptr<tcp_connection> connection, std::uint32_t program, std::uint32_t version,
                       std::size_t reply_limit)
    : connection_(std::move(connection)), program_(program), version_(version), replies_(reply_limit, reply_limit),
      // Calls on separate connections need not differ, but a fresh start helps reading traces.
      xid_(static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()))
{
}

xdr_writer rpc_client::start(std::uint32_t procedure, std::size_t capacity)
{
    xdr_writer out(capacity + 40);
    put_call(out, call_header{++xid_, rpc::version, program_, version_, procedure});
    return out;
}

std::vector<unsigned char> rpc_client::call(xdr_writer& call, deadline until, std::size_t& results)
{
    const auto record = call.record();
    connection_->send_all(record.data(), record.size(), until);
    // receive_into throws when the connection ends, rather than give 0.
    std::vector<unsigned char> reply =
        *replies_.next([&](std::span<unsigned char> into) { return connection_->receive_into(into, until); });
    xdr_reader in(reply);
    if (const std::uint32_t accepted = get_accepted_reply(in, xid_); accepted != rpc::success)
        throw rpc_refused("the RPC call was not accepted (accept_stat " + std::to_string(accepted) + ")");
    results = reply.size() - in.left();
    return reply;
}

unsigned short ask_port(const std::string& host, unsigned short portmapper_port, std::uint32_t program,
                        std::uint32_t version, deadline until)
{
    rpc_client mapper(std::make_unique<tcp_connection>(host, std::to_string(portmapper_port), until),
                      portmapper::program, portmapper::version, 1024);
    xdr_writer call = mapper.start(portmapper::getport);
    call.put(program);
    call.put(version);
    call.put(portmapper::tcp);
    call.put(0);
    std::size_t at = 0;
    const std::vector<unsigned char> reply = mapper.call(call, until, at);
    xdr_reader in{std::span(reply).subspan(at)};
    const std::uint32_t port = in.get();
    if (port > 65535)
        throw xdr_error("the portmapper gave port " + std::to_string(port));
    return static_cast<unsigned short>(port);
}

} // namespace morvane::vxi11
