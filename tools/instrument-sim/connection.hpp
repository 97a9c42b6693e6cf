#pragma once
// One raw TCP client connection, served by a simulated instrument of its own.
#include <winsock2.h>
#include <memory>
#include <string_view>
#include <visacom.h>
#include "line_instrument.hpp"
#include "server_options.hpp"
#include "sim/memory_budget.hpp"

namespace morvane::instrument_server {

// Serves until the client goes, the connection fails or drop-after closes it; closes `client`.
// What the connection's instrument holds is taken from `budget`.
void serve_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget);

} // namespace morvane::instrument_server
