#include "oncrpc/rpc_client.hpp"

#include <chrono>
#include <utility>
#include "oncrpc/record_receiver.hpp"
#include "oncrpc/rpc_message.hpp"
#include "oncrpc/rpc_numbers.hpp"

namespace morvane::oncrpc {

rpc_client::rpc_client(std::unique_ptr<tcp_connection> connection, std::uint32_t program, std::uint32_t version,
                       std::size_t reply_limit)
    : m_connection(std::move(connection)), m_program(program), m_version(version), m_replies(reply_limit, reply_limit),
      // Calls on separate connections need not differ, but a fresh start helps reading traces.
      m_xid(static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()))
{}

xdr_writer rpc_client::start(std::uint32_t procedure, std::size_t capacity)
{
    xdr_writer out(capacity + 40);
    put_call(out, call_header{++m_xid, rpc::version, m_program, m_version, procedure});
    return out;
}

std::vector<unsigned char> rpc_client::call(xdr_writer& call, deadline until, std::size_t& results)
{
    const auto record = call.record();
    m_connection->send_all(record.data(), record.size(), until);
    // receive_into throws when the connection ends, rather than give 0.
    std::vector<unsigned char> reply =
        *m_replies.next([&](std::span<unsigned char> into) { return m_connection->receive_into(into, until); });
    xdr_reader in(reply);
    if (const std::uint32_t accepted = get_accepted_reply(in, m_xid); accepted != rpc::success)
        throw rpc_refused("the RPC call was not accepted (accept_stat " + std::to_string(accepted) + ")");
    results = reply.size() - in.left();
    return reply;
}

} // namespace morvane::oncrpc
