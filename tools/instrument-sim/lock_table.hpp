#pragma once
// The instrument's locks, one table for the whole server (one instrument, several clients): one
// exclusive lock, or shared locks held by any number of clients under one name. A client is a
// HiSLIP session's ID (1 to 65535) or a VXI-11 link's ID (65536 up), so the two never meet.
// Every wait is bounded by its timeout and ends early when `give_up` says so (the client went).
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

enum class lock_outcome { granted, timed_out, refused };
enum class released { exclusive, shared, nothing };

class lock_table {
public:
    using client_id = std::uint32_t;
    using give_up = std::function<bool()>;

    // An exclusive lock (empty name) or a shared one: granted when free or compatible, else once
    // it is within `timeout`; timed out after it; refused when the client holds a shared lock of
    // another name. A lock the client holds is granted again.
    lock_outcome request(client_id client, std::string_view name, std::chrono::milliseconds timeout,
                         const give_up& stop);
    // The client's exclusive lock if it holds it, else its shared lock.
    released release(client_id client);
    // A client that goes releases all it holds.
    void release_all(client_id client);
    // Whether an exclusive lock is granted, and how many clients hold a lock.
    std::pair<bool, std::uint32_t> info();
    // Waits while another client holds the exclusive lock, for `timeout` at most (none: until it
    // is released); false when it still holds it then, or `stop` said so first.
    bool wait_for_access(client_id client, std::optional<std::chrono::milliseconds> timeout, const give_up& stop);
    // Waits look at their `give_up` now.
    void wake() { m_changed.notify_all(); }

private:
    bool grantable(client_id client, std::string_view name) const;
    // Waits until `ready`, for `timeout` at most; false when it is not then, or `stop` said so.
    template<typename Ready>
    bool wait(std::unique_lock<std::mutex>& guard, std::optional<std::chrono::milliseconds> timeout,
              const give_up& stop, Ready ready);

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::optional<client_id> m_exclusive;
    std::map<client_id, std::string> m_shared; // at most one a client, so as many as the clients
};

// The server's, for every client of every protocol.
lock_table& server_locks();

} // namespace morvane::instrument_server
