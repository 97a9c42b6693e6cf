#pragma once
// A message session for tests: it records every call, plays back scripted chunks with their statuses up to
// the count asked, times out when nothing is scripted, and fails the n-th call of an operation on request.
#include <windows.h>
#include <atomic>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>
#include <visacom.h>
#include "support/documented_values.hpp"

namespace morvane::testing {

enum class session_op {
    // clang-format off
    write, read, read_string, last_status, get_send_end, put_send_end,
    get_termination_character, put_termination_character, get_timeout, put_timeout
    // clang-format on
};

struct session_call {
    session_op op;
    std::string bytes;     // write: the bytes sent
    long count = 0;        // write, read, read_string: the count passed; puts: the value
    bool send_end = false; // write: SendEndEnabled at that moment
};

using lines = std::vector<std::string>;
lines operator+(lines a, const lines& b);
// The calls that send n bytes with END suppressed.
lines chunk(std::size_t n);
// n bytes that differ from their neighbours, 0xFF among them, and no line feed.
std::string pattern(std::size_t n);

// The record a failing session leaves on the thread.
inline constexpr const wchar_t* session_source = L"Scripted session";
inline constexpr const wchar_t* session_help_file = L"C:\\session\\session.chm";
inline constexpr DWORD session_help_context = 4242;
// The description of the failure of a read that finds nothing scripted.
inline constexpr const wchar_t* session_timed_out = L"Timeout expired before operation completed.";

// Bytes that end where a page with no access begins, so that a read past them faults at once.
struct guarded_bytes {
    // clang-format off
    explicit guarded_bytes(std::size_t n) : span((n + 4095) / 4096 * 4096), size(n) { VirtualProtect(base + span, 4096, PAGE_NOACCESS, &old); }
    // clang-format on
    ~guarded_bytes() { VirtualFree(base, 0, MEM_RELEASE); }
    guarded_bytes(const guarded_bytes&) = delete;
    unsigned char* data() const noexcept { return base + span - size; }
    std::size_t span, size;
    unsigned char* base =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, span + 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
};

class scripted_session final : public IMessage {
public:
    void add_chunk(std::string bytes, long status) { m_chunks.push_back({std::move(bytes), status}); }
    // One response in chunks of the given sizes and the rest: each ends on the count, the last with final_status.
    void respond(std::string_view response, std::initializer_list<std::size_t> chunk_sizes = {},
                 long final_status = status_end);
    // The n-th call (from 1) of op fails with hr, leaving error information on the thread with a description.
    void fail(session_op op, int nth, HRESULT hr, std::optional<std::wstring> description = std::nullopt)
    {
        m_failures.push_back({op, nth, hr, std::move(description)});
    }
    // Any non-zero value is true, as a session may answer it.
    void set_send_end(VARIANT_BOOL enabled) { m_send_end = enabled; }
    void set_termination_character(VARIANT_BOOL enabled) { m_term = enabled; }
    // Runs inside every call, before it is recorded: a test can watch or hold a call open.
    void on_call(std::function<void(const session_call&)> hook) { m_hook = std::move(hook); }
    // A read takes bytes across chunks up to its count or the message's end, as a session over an
    // instrument does (otherwise one chunk at most); its array ends before a page with no access.
    void join_chunks(bool on) { m_join = on; }
    void guard_reads(bool on) { m_guard = on; }
    void clear_chunks() { m_chunks.clear(); }

    const std::vector<session_call>& calls() const { return m_calls; }
    // Each call as a line: "get_send_end", "put_send_end 0", "write 1000 noend", "read 1000", ...
    lines trace() const;
    lines writes() const;
    std::string sent() const; // the writes' bytes joined
    int count(session_op op) const;
    bool send_end() const { return m_send_end != VARIANT_FALSE; }
    bool termination_character() const { return m_term == VARIANT_TRUE; }
    long timeout() const { return m_timeout; }
    long references() const { return m_references; }
    // Calls that began while another was in progress, and the calls in progress on this thread
    // (to tell the session's work from the component's).
    int overlaps() const { return m_overlaps; }
    static inline thread_local int calls_in_progress = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_references); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--m_references); }
    STDMETHODIMP Write(SAFEARRAY** buffer, LONG count, LONG* written) override;
    STDMETHODIMP Read(LONG count, SAFEARRAY** buffer) override;
    STDMETHODIMP ReadString(LONG count, BSTR* text) override;
    // clang-format off
    STDMETHODIMP get_LastStatus(LONG* status) override { return answer(session_op::last_status, m_last_status, status); }
    STDMETHODIMP get_SendEndEnabled(VARIANT_BOOL* on) override { return answer(session_op::get_send_end, m_send_end, on); }
    // clang-format on
    STDMETHODIMP put_SendEndEnabled(VARIANT_BOOL on) override { return put(session_op::put_send_end, m_send_end, on); }
    STDMETHODIMP get_TerminationCharacterEnabled(VARIANT_BOOL* on) override
    {
        return answer(session_op::get_termination_character, m_term, on);
    }
    STDMETHODIMP put_TerminationCharacterEnabled(VARIANT_BOOL on) override
    {
        return put(session_op::put_termination_character, m_term, on);
    }
    STDMETHODIMP get_Timeout(LONG* ms) override { return answer(session_op::get_timeout, m_timeout, ms); }
    STDMETHODIMP put_Timeout(LONG ms) override { return put(session_op::put_timeout, m_timeout, ms); }

private:
    struct failure {
        session_op op;
        int nth;
        HRESULT hr;
        std::optional<std::wstring> description;
    };
    struct in_call {
        scripted_session& s;
        // clang-format off
        explicit in_call(scripted_session& session) : s(session) { s.m_overlaps += s.m_busy.exchange(1), ++calls_in_progress; }
        // clang-format on
        ~in_call() { s.m_busy = 0, --calls_in_progress; }
    };
    HRESULT record(session_call call);
    template<typename T> HRESULT answer(session_op op, T value, T* out)
    {
        const in_call scope(*this);
        const HRESULT hr = record({op, {}});
        if (SUCCEEDED(hr))
            *out = value;
        return hr;
    }
    template<typename T> HRESULT put(session_op op, T& setting, T value)
    {
        const in_call scope(*this);
        const HRESULT hr = record({op, {}, value});
        if (SUCCEEDED(hr))
            setting = value;
        return hr;
    }
    // Hands out up to count bytes of the next chunk and sets the status; times out when none is scripted.
    HRESULT read(session_op op, long count, const std::function<void(const std::string&)>& hand_out);

    std::vector<session_call> m_calls;
    std::deque<std::pair<std::string, long>> m_chunks;
    std::vector<failure> m_failures;
    std::function<void(const session_call&)> m_hook;
    std::deque<guarded_bytes> m_guarded;
    std::atomic<long> m_references = 0;
    std::atomic<int> m_busy = 0, m_overlaps = 0;
    bool m_join = false, m_guard = false;
    LONG m_last_status = status_end;
    VARIANT_BOOL m_send_end = VARIANT_TRUE;
    VARIANT_BOOL m_term = VARIANT_TRUE;
    LONG m_timeout = 2000;
};

} // namespace morvane::testing
