#pragma once
// One client connection, served by a simulated session of its own.
#include <winsock2.h>
#include "server_options.hpp"

namespace morvane::instrument_server {

// Serves until the client goes, the connection fails or drop-after closes it; closes `client`.
void serve_connection(SOCKET client, const server_options& options);

} // namespace morvane::instrument_server
