#pragma once
// The message-session operations that the stream buffer and block reading make; every
// failing call raises the session's own error (throw_session_error).
#include <windows.h>
#include <cstddef>
#include <visacom.h>
#include "platform/safearray.hpp"

namespace morvane {

// LastStatus after a read.
inline constexpr long status_end = 0;                             // the read ended on END
inline constexpr long status_termination_character = 0x00040005; // ... on the termination character
inline constexpr long status_count_reached = 0x00040006;         // the count was reached, the message goes on

inline constexpr bool ends_message(long status) noexcept
{
    return status == status_end || status == status_termination_character;
}

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
