#pragma once
// The VXI-11 core channel (program 0x0607AF version 1) on one client connection: every link
// created on it a simulated instrument of its own.
#include <winsock2.h>
#include <cstddef>
#include <memory>
#include "server_options.hpp"
#include "sim/memory_budget.hpp"

namespace morvane::instrument_server {

// The device_write size that create_link announces (maxRecvSize). Larger writes are still
// taken up to core_max_write, for clients that do not split theirs.
inline constexpr std::size_t core_max_receive = 1 << 20;
inline constexpr std::size_t core_max_write = 32 << 20;

// Serves calls until the client goes, the connection fails or drop-after closes it; closes
// `client`. What the links' instruments hold is taken from `budget`.
void serve_core_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget);

} // namespace morvane::instrument_server
