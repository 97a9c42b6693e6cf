#pragma once
// A HiSLIP session, shared by the threads of its two connections: the instrument its client talks
// to, its sockets, and what one channel tells the other. And the server's table of sessions.
#include <winsock2.h>
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <morvane_sessions.h>
#include <visacom.h>
#include <wrl/client.h>
#include "hislip/hislip_messages.hpp"
#include "transport/winsock.hpp"

namespace morvane::instrument_server {

// What the server takes in one Data message (AsyncMaximumMessageSizeResponse), and what it sends
// in one until the client has said its own figure.
inline constexpr std::uint64_t server_maximum_message_size = 1 << 20;
inline constexpr std::uint64_t default_client_maximum = 1 << 20;
inline constexpr std::uint32_t vendor_id = 'M' << 8 | 'V';

class hislip_session {
public:
    // `instrument` answers IMorvaneSession too.
    hislip_session(std::uint16_t id, Microsoft::WRL::ComPtr<IMessage> instrument,
                   Microsoft::WRL::ComPtr<IMorvaneSession> own, transport::unique_socket sync) noexcept
        : id(id), instrument(std::move(instrument)), own(std::move(own)), m_sync(std::move(sync))
    {}
    hislip_session(const hislip_session&) = delete;
    hislip_session& operator=(const hislip_session&) = delete;

    const std::uint16_t id;
    // Safe to call from both threads: the simulated session serialises its calls.
    const Microsoft::WRL::ComPtr<IMessage> instrument;
    const Microsoft::WRL::ComPtr<IMorvaneSession> own;
    std::atomic<bool> ended{false};
    std::atomic<std::uint64_t> client_maximum{default_client_maximum};
    std::atomic<unsigned> clears{0}; // AsyncDeviceClears: a response being sent stops when this changes
    // The ID of the last Data, DataEND or Trigger that the instrument has taken whole: a status
    // query names the last message its client sent, and is answered once that one is in.
    std::atomic<std::uint32_t> last_taken{hislip::first_message_id - 2};

    // Takes `async` as the asynchronous channel; false when the session has one already.
    bool attach_async(transport::unique_socket& async);
    bool async_attached();
    // Sends on the asynchronous channel, whole, whichever thread sends; false when none or it failed.
    bool send_async(hislip::message_type type, std::uint8_t control, std::uint32_t parameter,
                    std::span<const unsigned char> payload = {});
    // Ends the session, from either channel: the other's waits end and its socket is shut down.
    // The sockets themselves close with the last thread that holds the session.
    void end();

private:
    std::mutex m_async_lock; // the asynchronous socket, and every send on it
    transport::unique_socket m_sync, m_async;
    // The asynchronous socket once attached, for end(), which must not wait for a send.
    std::atomic<SOCKET> m_async_handle{INVALID_SOCKET};
};

class session_table {
public:
    // A new session over `sync`, none when `most` are open; `make` gives its instrument.
    template<typename Make>
    std::shared_ptr<hislip_session> open(transport::unique_socket& sync, std::size_t most, Make&& make);
    std::shared_ptr<hislip_session> find(std::uint32_t id);
    void remove(std::uint16_t id);

private:
    std::mutex m_lock;
    std::map<std::uint16_t, std::shared_ptr<hislip_session>> m_sessions;
    std::uint16_t m_next = 1;
};

// The server's, for every connection.
session_table& hislip_sessions();

template<typename Make>
std::shared_ptr<hislip_session> session_table::open(transport::unique_socket& sync, std::size_t most, Make&& make)
{
    const std::lock_guard guard(m_lock);
    if (m_sessions.size() >= most)
        return nullptr;
    while (m_next == 0 || m_sessions.contains(m_next)) // IDs are 16 bits: the free one after the last
        ++m_next;
    Microsoft::WRL::ComPtr<IMessage> instrument = make();
    Microsoft::WRL::ComPtr<IMorvaneSession> own;
    if (!instrument || FAILED(instrument.As(&own)))
        return nullptr;
    auto made = std::make_shared<hislip_session>(m_next, std::move(instrument), std::move(own), std::move(sync));
    m_sessions.emplace(m_next++, made);
    return made;
}

} // namespace morvane::instrument_server
