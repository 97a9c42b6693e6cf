#pragma once
// Waiting for what another thread or process does, long enough for a loaded machine.
#include <chrono>
#include <thread>

namespace morvane::testing {

// Whether `done` holds, asked every millisecond until it does, for `most` at most.
template<typename Done> bool eventually(Done done, std::chrono::milliseconds most = std::chrono::seconds(10))
{
    for (const auto until = std::chrono::steady_clock::now() + most;
         !done() && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

} // namespace morvane::testing
