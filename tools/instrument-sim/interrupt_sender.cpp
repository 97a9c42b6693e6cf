#include "interrupt_sender.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include "transport/tcp_connection.hpp"
#include "oncrpc/rpc_message.hpp"
#include "oncrpc/rpc_numbers.hpp"
#include "vxi11/core_messages.hpp"

namespace morvane::instrument_server {
namespace {

using transport::tcp_connection;
using transport::tcp_failure;
using clock = std::chrono::steady_clock;

std::string dotted(std::uint32_t address)
{
    in_addr in{};
    in.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &in, text, sizeof text) ? text : "";
}

// Drops what the client sent back (a reply it need not send): unread, it would fill the
// connection's buffers. Throws tcp_failure when the client went.
void drain(tcp_connection& connection)
{
    std::array<unsigned char, 1024> sink;
    try {
        for (;;)
            connection.receive_into(sink, clock::now());
    } catch (const tcp_failure& failure) {
        if (failure.kind != tcp_failure::timed_out)
            throw;
    }
}

} // namespace

interrupt_sender::~interrupt_sender()
{
    {
        const std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

bool interrupt_sender::open(const channel& where)
{
    const std::lock_guard guard(m_lock);
    if (m_channel)
        return false;
    m_channel = where;
    ++m_opened;
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    return true;
}

bool interrupt_sender::close()
{
    const std::lock_guard guard(m_lock);
    if (!m_channel)
        return false;
    m_channel.reset();
    m_waiting.clear();
    m_changed.notify_one(); // the thread closes its connection
    return true;
}

void interrupt_sender::enable(std::int32_t link, bool on, std::span<const unsigned char> handle)
{
    const std::lock_guard guard(m_lock);
    if (on)
        m_handles[link].assign(handle.begin(), handle.end());
    else
        m_handles.erase(link);
}

void interrupt_sender::raise(std::int32_t link)
{
    {
        const std::lock_guard guard(m_lock);
        if (!m_channel || !m_handles.contains(link) || m_waiting.size() == max_waiting)
            return;
        m_waiting.push_back(link);
    }
    m_changed.notify_one();
}

void interrupt_sender::run()
{
    std::unique_ptr<tcp_connection> connection;
    std::uint64_t connected_to = 0; // the channel it was made for
    std::uint32_t xid = static_cast<std::uint32_t>(clock::now().time_since_epoch().count());
    std::unique_lock guard(m_lock);
    for (;;) {
        // A connection to a channel closed or replaced is closed at once.
        m_changed.wait(guard, [&] {
            return m_stopping || !m_waiting.empty() || (connection && (!m_channel || connected_to != m_opened));
        });
        if (m_stopping)
            return;
        if (!m_channel || connected_to != m_opened)
            connection.reset();
        if (m_waiting.empty())
            continue;
        const std::int32_t link = m_waiting.front();
        m_waiting.pop_front();
        const auto handle = m_handles.find(link);
        if (handle == m_handles.end())
            continue;
        const channel where = *m_channel;
        oncrpc::xdr_writer call(64);
        oncrpc::put_call(
            call, {++xid, oncrpc::rpc::version, where.program, where.version, vxi11::interrupt::device_intr_srq});
        encode(call, vxi11::device_srq_args{handle->second});
        const std::uint64_t opened = m_opened;
        guard.unlock();
        // One-way: no reply is awaited, and what comes back is dropped.
        try {
            const auto until = clock::now() + call_time;
            if (!connection) {
                connection = std::make_unique<tcp_connection>(dotted(where.address), std::to_string(where.port), until);
                connected_to = opened;
            }
            drain(*connection);
            const auto record = call.record();
            connection->send_all(record.data(), record.size(), until);
        } catch (const tcp_failure&) {
            connection.reset(); // the client is gone or too slow: this call is lost
        }
        guard.lock();
    }
}

} // namespace morvane::instrument_server
