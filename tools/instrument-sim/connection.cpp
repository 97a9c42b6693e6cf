#include "connection.hpp"

#include <algorithm>
#include <string>
#include "line_instrument.hpp"
#include "transport/client_socket.hpp"
#include "transport/socket_wait.hpp"

namespace morvane::instrument_server {

void serve_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget)
{
    transport::prepare_client(client, options.idle_seconds);
    line_peer peer{[client](const unsigned char* bytes, std::size_t count) {
                       return transport::send_to_client(client, {bytes, count});
                   },
                   [client] { shutdown(client, SD_SEND); },
                   [client](std::chrono::milliseconds wait) {
                       return transport::wait_for_socket(client, false, wait) != transport::socket_state::time_passed;
                   }};
    line_instrument instrument(std::move(peer), options, std::move(budget));
    std::string buffer(64 * 1024, '\0');
    for (bool open = static_cast<bool>(instrument); open;) {
        const std::size_t n =
            transport::receive_from_client(client, buffer.data(), buffer.size(), options.idle_seconds);
        open = n > 0 && instrument.take(std::string_view(buffer.data(), n));
    }
    closesocket(client);
}

} // namespace morvane::instrument_server
