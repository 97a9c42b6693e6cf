#include "hislip_session.hpp"

#include "hislip_channel.hpp"

namespace morvane::instrument_server {

bool hislip_session::attach_async(transport::unique_socket& async)
{
    const std::lock_guard guard(m_async_lock);
    if (m_async || ended)
        return false;
    m_async = std::move(async);
    m_async_handle = m_async.get();
    return true;
}

bool hislip_session::async_attached()
{
    const std::lock_guard guard(m_async_lock);
    return static_cast<bool>(m_async);
}

bool hislip_session::send_async(hislip::message_type type, std::uint8_t control, std::uint32_t parameter,
                                std::span<const unsigned char> payload)
{
    const std::lock_guard guard(m_async_lock);
    return m_async && send_message(m_async.get(), {type, control, parameter, payload.size()}, payload);
}

void hislip_session::end()
{
    ended = true;
    // A thread blocked in a send wakes too. Both sockets stay open until the session goes, so
    // that no handle is used after it was closed and given to another connection.
    shutdown(m_sync.get(), SD_BOTH);
    if (const SOCKET async = m_async_handle; async != INVALID_SOCKET)
        shutdown(async, SD_BOTH);
}

std::shared_ptr<hislip_session> session_table::find(std::uint32_t id)
{
    const std::lock_guard guard(m_lock);
    const auto found = id <= 0xFFFF ? m_sessions.find(static_cast<std::uint16_t>(id)) : m_sessions.end();
    return found == m_sessions.end() ? nullptr : found->second;
}

void session_table::remove(std::uint16_t id)
{
    const std::lock_guard guard(m_lock);
    m_sessions.erase(id);
}

session_table& hislip_sessions()
{
    static session_table table;
    return table;
}

} // namespace morvane::instrument_server
