#include "oncrpc/rpc_connection.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include "transport/client_socket.hpp"
#include "oncrpc/rpc_numbers.hpp"

namespace morvane::oncrpc {

rpc_connection::rpc_connection(SOCKET client, std::size_t record_limit, const connection_faults& faults)
    : client_(client), faults_(faults), calls_(record_limit)
{
    transport::prepare_client(client, faults.idle_seconds);
}

rpc_connection::~rpc_connection() { closesocket(client_); }

std::optional<std::vector<unsigned char>> rpc_connection::receive()
{
    try {
        return calls_.next([this](std::span<unsigned char> into) {
            return transport::receive_from_client(client_, into.data(), into.size(), faults_.idle_seconds);
        });
    } catch (const xdr_error& error) {
        std::fprintf(stderr, "instrument-sim: %s; connection closed\n", error.what());
        return std::nullopt; // the stream cannot be followed past a record it refused
    }
}

bool rpc_connection::closed_within(std::chrono::milliseconds wait) const
{
    return transport::closed_within(client_, wait);
}

bool rpc_connection::send(xdr_writer& reply, bool delayed)
{
    if (delayed && faults_.delay_ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(faults_.delay_ms));
    if (!faults_.segment) {
        const auto record = reply.record();
        return send_bytes(record.data(), record.size());
    }
    auto message = reply.message();
    while (!message.empty()) {
        const std::size_t piece = std::min(message.size(), faults_.segment);
        const std::uint32_t mark = htonl(static_cast<std::uint32_t>(piece) |
                                         (piece == message.size() ? rpc::last_fragment : 0));
        if (!send_bytes(reinterpret_cast<const unsigned char*>(&mark), 4) || !send_bytes(message.data(), piece))
            return false;
        message = message.subspan(piece);
        if (!message.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // fragments arrive apart
    }
    return true;
}

bool rpc_connection::begin_reply(const xdr_writer& head, std::size_t size, bool delayed)
{
    if (delayed && faults_.delay_ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(faults_.delay_ms));
    const std::uint32_t mark = htonl(static_cast<std::uint32_t>(size) | rpc::last_fragment);
    return send_bytes(reinterpret_cast<const unsigned char*>(&mark), 4) &&
           send_bytes(head.message().data(), head.message().size());
}

bool rpc_connection::send_bytes(const unsigned char* bytes, std::size_t count)
{
    if (faults_.drop_after)
        count = std::min(count, faults_.drop_after - std::min(sent_, faults_.drop_after));
    for (std::size_t done = 0; done < count;) {
        const int n = ::send(client_, reinterpret_cast<const char*>(bytes + done),
                             static_cast<int>(std::min<std::size_t>(count - done, 64 << 10)), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    sent_ += count;
    if (faults_.drop_after && sent_ >= faults_.drop_after) {
        shutdown(client_, SD_SEND); // a clean close, in the middle of a reply
        return false;
    }
    return true;
}

} // namespace morvane::oncrpc
