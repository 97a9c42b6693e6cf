#pragma once
// The sinks advised on a session, and the thread that calls them. Each sink is kept in the
// process's global interface table, so that the thread reaches it in its own apartment: a sink
// of a single-threaded apartment is called in that apartment (whose thread pumps messages), a
// free-threaded one on this thread. The protocol's threads only post; a sink that is slow,
// fails or throws holds up none of them. Requests wait for the thread in a bounded queue.
#include <windows.h>
#include <objidl.h>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <wrl/client.h>
#include "platform/unique_any.hpp"

namespace morvane::events {

class sink_delivery {
public:
    static constexpr std::size_t backlog = 64; // requests waiting for the thread; the oldest go first

    // `session` is what the sinks are told a request came from; it outlives this object.
    explicit sink_delivery(IUnknown* session);
    ~sink_delivery();
    // Stops the thread after the call in progress, pumping messages meanwhile, so that a sink
    // of the releasing thread's own apartment can finish its call. Released by a sink in its
    // call on the thread itself, it leaves the thread to end on its own. Nothing is posted after.
    void stop() noexcept;
    sink_delivery(const sink_delivery&) = delete;
    sink_delivery& operator=(const sink_delivery&) = delete;

    // IConnectionPoint's Advise and Unadvise for IMorvaneServiceRequestSink.
    HRESULT advise(IUnknown* sink, DWORD* cookie);
    HRESULT unadvise(DWORD cookie);
    // Sends a request's status byte to every sink advised now.
    void post(short status_byte);

private:
    // What the thread shares with this object, kept by both: the thread may outlive it.
    struct state {
        explicit state(IUnknown* session) : session(session) {}
        ~state();
        IUnknown* const session;
        Microsoft::WRL::ComPtr<IGlobalInterfaceTable> table;
        std::mutex lock;
        std::condition_variable posted;
        std::map<DWORD, DWORD> sinks; // the client's cookie: the table's cookie
        std::deque<short> pending;
        DWORD next_cookie = 1;
        bool stopping = false;
        // Set as the thread leaves COM: a single-threaded apartment can wait for it while pumping.
        unique_any<HANDLE, &CloseHandle> finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    };
    static void deliver(std::shared_ptr<state> shared);

    std::shared_ptr<state> m_shared;
    std::thread m_thread; // started by the first Advise
};

} // namespace morvane::events
