#pragma once
// What message sessions answer: the LastStatus values after a read and the HRESULTs of their
// failures. The one place that spells them, for the component, the sessions, the tools and
// the benchmark (the tests spell the documented values themselves).
#include <windows.h>

namespace morvane::session {

// LastStatus after a read.
inline constexpr LONG status_end = 0;                            // the read ended on END
inline constexpr LONG status_termination_character = 0x00040005; // ... on the termination character
inline constexpr LONG status_count_reached = 0x00040006;         // the count was reached, the message goes on

inline constexpr HRESULT resource_not_found = static_cast<HRESULT>(0x80040011);
inline constexpr HRESULT invalid_resource = static_cast<HRESULT>(0x80040012);
inline constexpr HRESULT timeout_expired = static_cast<HRESULT>(0x80040015);
inline constexpr HRESULT connection_lost = static_cast<HRESULT>(0x800400A6);
// An error the instrument's protocol reports that refuses the call; the session goes on.
inline constexpr HRESULT device_error_reported = static_cast<HRESULT>(0x800400B1);
// Another client holds a lock that this one waited for in vain.
inline constexpr HRESULT resource_locked = static_cast<HRESULT>(0x8004000F);
// Unlock without a lock held.
inline constexpr HRESULT not_locked = static_cast<HRESULT>(0x8004009C);
// Waiting for a service request while they are disabled.
inline constexpr HRESULT service_requests_disabled = static_cast<HRESULT>(0x80040033);
// A session whose connection carries no service requests.
inline constexpr HRESULT service_requests_unsupported = static_cast<HRESULT>(0x80040026);
// A message longer than the session's MaximumMessageSize.
inline constexpr HRESULT message_too_long = static_cast<HRESULT>(0x800400C1);

// What MaximumMessageSize is as a session opens: the largest block a client reads (100 MiB)
// passes with room to spare.
inline constexpr LONG default_maximum_message_size = 256 << 20;

inline constexpr bool ends_message(LONG status) noexcept
{
    return status == status_end || status == status_termination_character;
}

} // namespace morvane::session
