#include "connection_slots.hpp"

#include "platform/com_apartment.hpp"
#include <system_error>
#include <thread>

namespace morvane::instrument_server {

void connection_slots::serve(SOCKET client, std::function<void(SOCKET)> serve)
{
    if (++in_use_ > most_) {
        --in_use_;
        closesocket(client);
        return;
    }
    try {
        std::thread([this, client, serve = std::move(serve)] {
            {
                const com_apartment com(COINIT_MULTITHREADED); // the session works without it too
                serve(client);
            }
            --in_use_;
        }).detach();
    } catch (const std::system_error&) {
        --in_use_; // no thread to be had: the client is turned away like one past the limit
        closesocket(client);
    }
}

} // namespace morvane::instrument_server
