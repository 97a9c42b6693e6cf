#include "hislip_channel.hpp"

#include <algorithm>
#include <chrono>
#include <vector>
#include "transport/client_socket.hpp"
#include "transport/socket_wait.hpp"

namespace morvane::instrument_server {
namespace {

using namespace std::chrono;
constexpr milliseconds wait_slice{100}; // how soon a wait sees that its session ended

// Bytes (or the end of the stream) within `wait`; a failed wait counts as readable, so that
// the receive that follows reports it.
bool readable_within(SOCKET socket, microseconds wait)
{
    return transport::wait_for_socket(socket, false, wait) != transport::socket_state::time_passed;
}

} // namespace

bool send_bytes(SOCKET socket, std::span<const unsigned char> bytes)
{
    return transport::send_to_client(socket, bytes);
}

bool send_message(SOCKET socket, const hislip::header& message, std::span<const unsigned char> payload)
{
    hislip::header_bytes head = hislip::encode(message);
    // Header and payload in one call, the payload not copied: a send of its own would cost a
    // round through the platform for every piece of a response.
    WSABUF buffers[] = {{static_cast<ULONG>(head.size()), reinterpret_cast<char*>(head.data())},
                        {static_cast<ULONG>(std::min<std::size_t>(payload.size(), 1 << 20)),
                         reinterpret_cast<char*>(const_cast<unsigned char*>(payload.data()))}};
    DWORD sent = 0;
    if (WSASend(socket, buffers, payload.empty() ? 1 : 2, &sent, 0, nullptr, nullptr) != 0)
        return false;
    if (sent < head.size())
        return send_bytes(socket, std::span(head).subspan(sent)) && send_bytes(socket, payload);
    return send_bytes(socket, payload.subspan(sent - head.size()));
}

std::optional<std::string> hislip_channel::small_payload()
{
    std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(payload_left(), control_payload_limit)), '\0');
    if (!m_stream.whole_payload({reinterpret_cast<unsigned char*>(text.data()), text.size()}, receiver()))
        return std::nullopt;
    return text;
}

bool hislip_channel::readable_now()
{
    return m_stream.staged() || m_ahead.holds_ahead() || readable_within(m_socket, microseconds(0));
}

std::size_t hislip_channel::receive(std::span<unsigned char> into)
{
    if (m_ahead.holds_ahead())
        return m_ahead.receive(into.data(), into.size());
    const auto start = steady_clock::now();
    for (;;) {
        if (m_stop && *m_stop)
            return 0;
        if (readable_within(m_socket, wait_slice))
            break;
        if (m_idle_seconds > 0 && steady_clock::now() - start >= duration<double>(m_idle_seconds))
            return 0;
    }
    const int n = recv(m_socket, reinterpret_cast<char*>(into.data()),
                       static_cast<int>(std::min<std::size_t>(into.size(), 1 << 20)), 0);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void hislip_channel::close_after_sending()
{
    shutdown(m_socket, SD_SEND);
    const auto start = steady_clock::now();
    char dropped[4096];
    for (std::size_t total = 0; total < (1u << 20) && steady_clock::now() - start < milliseconds(500);) {
        if (!readable_within(m_socket, milliseconds(50)))
            continue;
        const int n = recv(m_socket, dropped, sizeof dropped, 0);
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
    }
}

} // namespace morvane::instrument_server
