#pragma once
// The message-session operations that the stream buffer and block reading make; every
// failing call raises the session's own error (throw_session_error).
#include <windows.h>
#include <cstddef>
#include <visacom.h>
#include "platform/safearray.hpp"
#include "session_codes.hpp"

namespace morvane {

// One Write of the byte array. With `end_allowed`, END goes as the session's SendEndEnabled
// makes it; otherwise SendEndEnabled is switched off for the write (and back on, also when
// the write fails).
void write_bytes(IMessage& session, SAFEARRAY* bytes, bool end_allowed);

// One Read of at most count bytes, then LastStatus.
struct read_result {
    unique_safearray bytes;
    long status;
};
read_result read_bytes(IMessage& session, long count);

// Reads and drops the rest of the current message, 1000 characters at a time.
void drain_message(IMessage& session);

} // namespace morvane
