#include "oncrpc/rpc_connection.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include "transport/client_socket.hpp"
#include "oncrpc/rpc_numbers.hpp"

namespace morvane::oncrpc {

rpc_connection::rpc_connection(SOCKET client, std::size_t record_limit, const connection_faults& faults)
    : m_client(client), m_faults(faults), m_stream(client, faults.idle_seconds), m_calls(record_limit)
{
    transport::prepare_client(client, faults.idle_seconds);
}

rpc_connection::~rpc_connection() { closesocket(m_client); }

std::optional<std::vector<unsigned char>> rpc_connection::receive()
{
    try {
        return m_calls.next(
            [this](std::span<unsigned char> into) { return m_stream.receive(into.data(), into.size()); });
    } catch (const xdr_error& error) {
        std::fprintf(stderr, "instrument-sim: %s; connection closed\n", error.what());
        return std::nullopt; // the stream cannot be followed past a record it refused
    }
}

bool rpc_connection::send(xdr_writer& reply, bool delayed)
{
    if (delayed && m_faults.delay_ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_faults.delay_ms));
    if (!m_faults.segment) {
        const auto record = reply.record();
        return send_bytes(record.data(), record.size());
    }
    auto message = reply.message();
    while (!message.empty()) {
        const std::size_t piece = std::min(message.size(), m_faults.segment);
        const std::uint32_t mark =
            htonl(static_cast<std::uint32_t>(piece) | (piece == message.size() ? rpc::last_fragment : 0));
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
    if (delayed && m_faults.delay_ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_faults.delay_ms));
    const std::uint32_t mark = htonl(static_cast<std::uint32_t>(size) | rpc::last_fragment);
    return send_bytes(reinterpret_cast<const unsigned char*>(&mark), 4) &&
           send_bytes(head.message().data(), head.message().size());
}

bool rpc_connection::send_bytes(const unsigned char* bytes, std::size_t count)
{
    if (m_faults.drop_after)
        count = std::min(count, m_faults.drop_after - std::min(m_sent, m_faults.drop_after));
    for (std::size_t done = 0; done < count;) {
        const int n = ::send(m_client, reinterpret_cast<const char*>(bytes + done),
                             static_cast<int>(std::min<std::size_t>(count - done, 64 << 10)), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    m_sent += count;
    if (m_faults.drop_after && m_sent >= m_faults.drop_after) {
        shutdown(m_client, SD_SEND); // a clean close, in the middle of a reply
        return false;
    }
    return true;
}

} // namespace morvane::oncrpc
