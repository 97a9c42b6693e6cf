#pragma once
// Waiting on a client's socket with bounds: a client that sends nothing, or goes while the
// server waits on its behalf, holds no thread for longer than it must.
#include <winsock2.h>
#include <chrono>
#include <cstddef>
#include <span>

namespace morvane::transport {

// At most `size` bytes from the client; 0 once it went, the connection failed, or it sent
// nothing for `idle_seconds` (0: no limit).
std::size_t receive_from_client(SOCKET client, void* into, std::size_t size, double idle_seconds);

// Sends to the client without delay (TCP_NODELAY), each failing once the client has taken
// nothing for `idle_seconds` (0: no limit), so that a client that never reads frees its thread.
void prepare_client(SOCKET client, double idle_seconds);

// Sends every byte to the client (a blocking socket); false once a send fails.
bool send_to_client(SOCKET client, std::span<const unsigned char> bytes);

// Waits up to `wait` for the client to close the connection: true when it did (or the connection
// failed), false when the time passed or the client sent something first.
bool closed_within(SOCKET client, std::chrono::milliseconds wait);

} // namespace morvane::transport
