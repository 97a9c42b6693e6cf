#pragma once
// One HiSLIP connection: its first message makes it a session's synchronous channel
// (Initialize) or attaches it to one as the asynchronous channel (AsyncInitialize).
#include <winsock2.h>
#include <memory>
#include "server_options.hpp"
#include "sim/memory_budget.hpp"

namespace morvane::instrument_server {

// Serves until the client goes, the session ends or the connection fails; closes `client`. A
// session's instrument takes what it holds from its synchronous connection's `budget`.
void serve_hislip_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget);

} // namespace morvane::instrument_server
