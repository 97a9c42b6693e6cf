#pragma once
// A message session for concurrency tests. It plays a scripted session (safe to call from
// several threads: one lock of its own around it), writes what enters and leaves its Write
// into a shared log, and can hold its first Write inside the session until a gate opens:
//
//     event_log log;
//     gated_session session(log, "S1");
//     session.hold_first_write(gate, 1000);  // held until gate is set, or for 1000 ms
//     ... thread A writes "A" through an object bound to it ...
//     session.wait_until_held();              // A is inside the session, holding the object
//     ... thread B calls the same object, logs "B returned", sets the gate ...
//     EXPECT_EQ(log.entries(), (std::vector<std::string>{"S1 enter A\n", "S1 leave A\n", ...}));
#include <windows.h>
#include <mutex>
#include <string>
#include <vector>
#include "support/scripted_session.hpp"

namespace server_tests {

class event_log {
public:
    void add(std::string entry);
    std::vector<std::string> entries() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// A manual-reset event, closed on every way out.
class event {
public:
    event() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~event() { CloseHandle(handle_); }
    event(const event&) = delete;
    event& operator=(const event&) = delete;
    void set() { SetEvent(handle_); }
    bool wait(DWORD milliseconds) { return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0; }
    HANDLE handle() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

class gated_session final : public IMessage {
public:
    gated_session(event_log& log, std::string name) : log_(log), name_(std::move(name)) {}

    void hold_first_write(event& gate, DWORD longest_hold_ms);
    // True once the held Write is inside the session (false after the given wait).
    bool wait_until_held(DWORD milliseconds) { return held_.wait(milliseconds); }
    long references() const;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IMessage
    STDMETHODIMP Write(SAFEARRAY** buffer, LONG count, LONG* written) override;
    STDMETHODIMP Read(LONG count, SAFEARRAY** buffer) override;
    STDMETHODIMP ReadString(LONG count, BSTR* text) override;
    STDMETHODIMP get_LastStatus(LONG* status) override;
    STDMETHODIMP get_SendEndEnabled(VARIANT_BOOL* enabled) override;
    STDMETHODIMP put_SendEndEnabled(VARIANT_BOOL enabled) override;
    STDMETHODIMP get_TerminationCharacterEnabled(VARIANT_BOOL* enabled) override;
    STDMETHODIMP put_TerminationCharacterEnabled(VARIANT_BOOL enabled) override;
    STDMETHODIMP get_Timeout(LONG* milliseconds) override;
    STDMETHODIMP put_Timeout(LONG milliseconds) override;

private:
    template <typename Call>
    HRESULT locked(Call&& call)
    {
        std::lock_guard guard(mutex_);
        return call(inner_);
    }

    event_log& log_;
    std::string name_;
    mutable std::mutex mutex_;
    morvane::testing::scripted_session inner_;
    event* gate_ = nullptr;
    DWORD longest_hold_ms_ = 0;
    event held_;
};

} // namespace server_tests
