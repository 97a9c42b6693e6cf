#pragma once
// The simulated instrument on a serial line (--serial COM<n>).
#include "server_options.hpp"

namespace morvane::instrument_server {

// Serves the line for --seconds (0: until the line fails); the port's name is the first line of
// output. The process's exit code: 1 when the port cannot be opened or set.
int serve_serial_line(const server_options& options);

} // namespace morvane::instrument_server
