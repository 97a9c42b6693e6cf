#pragma once
// HiSLIP's locks, for the whole server (one instrument, several clients): one exclusive lock, or
// shared locks held by any number of clients under one name. A client is a session ID. Every
// wait is bounded by its timeout and ends early when `give_up` says so (the client went).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::instrument_server {

class lock_table {
public:
    using give_up = std::function<bool()>;

    // An exclusive lock (empty name) or a shared one: granted (AsyncLockResponse's 1) when free
    // or compatible, else once it is within `timeout`; failed (0) after it; refused (3) when the
    // client holds a shared lock of another name.
    std::uint8_t request(std::uint16_t client, std::string_view name, std::chrono::milliseconds timeout,
                         const give_up& stop);
    // The exclusive lock if the client holds it (1), else its shared lock (2), else 3.
    std::uint8_t release(std::uint16_t client);
    // A client that goes releases all it holds.
    void release_all(std::uint16_t client);
    // Whether an exclusive lock is granted, and how many clients hold a lock.
    std::pair<bool, std::uint32_t> info();
    // Waits while another client holds the exclusive lock; false when `stop` said so first.
    bool wait_for_access(std::uint16_t client, const give_up& stop);
    // Waits look at their `give_up` now.
    void wake() { m_changed.notify_all(); }

private:
    bool grantable(std::uint16_t client, std::string_view name) const;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::optional<std::uint16_t> m_exclusive;
    std::map<std::uint16_t, std::string> m_shared; // at most one a client, so as many as the sessions
};

// The server's, for every session.
lock_table& hislip_locks();

} // namespace morvane::instrument_server
