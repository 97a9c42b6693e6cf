#pragma once
// One client connection, served by a simulated session of its own.
#include <winsock2.h>
#include <memory>
#include <string_view>
#include <visacom.h>
#include "server_options.hpp"
#include "sim/memory_budget.hpp"

namespace morvane::instrument_server {

// Serves until the client goes, the connection fails or drop-after closes it; closes `client`.
// What the connection's instrument holds is taken from `budget`.
void serve_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget);

// Hands bytes of a message to a simulated instrument, with END when they end it; false when it failed.
bool write_to_instrument(IMessage& session, std::string_view bytes, bool end);

} // namespace morvane::instrument_server
