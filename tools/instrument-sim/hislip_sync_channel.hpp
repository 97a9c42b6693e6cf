#pragma once
// A HiSLIP session's synchronous channel, once initialized: Data and DataEND to the instrument
// and its responses back, Trigger, the end of a device clear, and the interruption of a response
// in synchronized mode.
#include "hislip_channel.hpp"
#include "hislip_session.hpp"
#include "server_options.hpp"

namespace morvane::instrument_server {

// Until the client goes, the session ends or the connection is to close. Throws hislip::protocol_error.
void serve_sync_channel(hislip_channel& channel, hislip_session& session, const server_options& options);

} // namespace morvane::instrument_server
