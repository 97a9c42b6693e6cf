#pragma once
// An ONC RPC client over one TCP connection: a call sent as one record, its reply awaited up to
// a deadline, no call overlapping another.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
#include "transport/tcp_connection.hpp"
#include "oncrpc/record_receiver.hpp"
#include "oncrpc/xdr.hpp"

namespace morvane::oncrpc {

using transport::deadline;
using transport::tcp_connection;

// The server answered, but not with results: the program, version or procedure is not served.
struct rpc_refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class rpc_client {
public:
    // `reply_limit`: the most bytes a reply may hold; a reply's buffer is made at the size its
    // record mark gives, within that limit, for one connection's replies come one at a time.
    rpc_client(std::unique_ptr<tcp_connection> connection, std::uint32_t program, std::uint32_t version,
               std::size_t reply_limit);

    // A writer holding the call header of `procedure`, for its arguments; room for `capacity` bytes.
    xdr_writer start(std::uint32_t procedure, std::size_t capacity = 128);
    // Sends the call that `start` began and returns the reply; `results` is where its results
    // begin. Throws tcp_failure, xdr_error (a reply that cannot be decoded) or rpc_refused.
    std::vector<unsigned char> call(xdr_writer& call, deadline until, std::size_t& results);
    const tcp_connection& connection() const noexcept { return *m_connection; }

private:
    std::unique_ptr<tcp_connection> m_connection;
    std::uint32_t m_program, m_version;
    record_stream m_replies;
    std::uint32_t m_xid;
};

} // namespace morvane::oncrpc
