#include "transport/socket_wait.hpp"

#include <algorithm>

namespace morvane::transport {

socket_state wait_for_socket(SOCKET socket, bool for_writing, std::chrono::steady_clock::time_point until)
{
    using namespace std::chrono;
    constexpr microseconds slice = 100ms;
    for (;;) {
        const auto left = duration_cast<microseconds>(until - steady_clock::now());
        const microseconds wait = std::clamp(left, microseconds(0), slice);
        fd_set ready, failed; // a connect that failed shows in `failed`
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(socket, &ready);
        FD_SET(socket, &failed);
        timeval span{0, static_cast<long>(wait.count())};
        const int count =
            for_writing ? select(0, nullptr, &ready, &failed, &span) : select(0, &ready, nullptr, nullptr, &span);
        if (count == SOCKET_ERROR)
            return socket_state::failed;
        if (count > 0)
            return socket_state::ready;
        if (left <= slice)
            return socket_state::time_passed;
    }
}

} // namespace morvane::transport
