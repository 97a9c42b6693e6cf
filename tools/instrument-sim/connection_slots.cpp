#include "connection_slots.hpp"

#include "platform/com_apartment.hpp"
#include <system_error>
#include <thread>

namespace morvane::instrument_server {

void connection_slots::serve(SOCKET client, std::function<void(SOCKET)> serve)
{
    if (++m_in_use > m_most) {
        --m_in_use;
        closesocket(client);
        return;
    }
    try {
        std::thread([this, client, serve = std::move(serve)] {
            {
                const com_apartment com(COINIT_MULTITHREADED); // the session works without it too
                serve(client);
            }
            --m_in_use;
        }).detach();
    } catch (const std::system_error&) {
        --m_in_use; // no thread to be had: the client is turned away like one past the limit
        closesocket(client);
    }
}

} // namespace morvane::instrument_server
