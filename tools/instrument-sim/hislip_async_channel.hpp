#pragma once
// A HiSLIP session's asynchronous channel, once initialized: the maximum message size, device
// clear, the status byte, locks and remote/local control.
#include "hislip_channel.hpp"
#include "hislip_session.hpp"
#include "server_options.hpp"

namespace morvane::instrument_server {

// Until the client goes, the session ends or the connection is to close. Throws hislip::protocol_error.
void serve_async_channel(hislip_channel& channel, hislip_session& session, const server_options& options);

} // namespace morvane::instrument_server
