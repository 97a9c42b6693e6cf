#pragma once
// One bounded wait on a socket for every caller. It looks at the socket afresh in short slices
// rather than once for the whole time: under load the platform has been seen to leave a wait
// asleep after data arrived, until the peer gave up, and a fresh look finds them.
#include <winsock2.h>
#include <chrono>

namespace morvane::transport {

enum class socket_state { ready, time_passed, failed };

// Until `socket` can be read (bytes or the end of the stream), or written when `for_writing`,
// or `until` passes (time_point::max(): no limit).
socket_state wait_for_socket(SOCKET socket, bool for_writing, std::chrono::steady_clock::time_point until);

// The same for `wait` from now.
inline socket_state wait_for_socket(SOCKET socket, bool for_writing, std::chrono::microseconds wait)
{
    return wait_for_socket(socket, for_writing, std::chrono::steady_clock::now() + wait);
}

} // namespace morvane::transport
