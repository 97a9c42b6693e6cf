#pragma once
// A message session for tests. It records every call in order with its arguments, plays
// back scripted response chunks with chosen statuses, honours the requested read count,
// times out when nothing is scripted, and fails the n-th call of a chosen operation.
//
//     scripted_session session;
//     session.respond("1,2,3\n", {2, 2});     // chunks "1," "2," "3\n": statuses 0x40006, 0x40006, 0
//     session.fail(session_op::write, 1, E_ABORT, "link down");
//     ... bind it with putref_IO(&session) ...
//     EXPECT_EQ(session.writes(), (std::vector<std::string>{"*IDN?\n"}));
//     EXPECT_EQ(session.references(), 0);      // everything taken was given back
#include <windows.h>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>
#include <visacom.h>

namespace morvane::testing {

inline constexpr long status_end = 0;
inline constexpr long status_termination_character = 0x00040005;
inline constexpr long status_count_reached = 0x00040006;
inline constexpr HRESULT session_timeout = static_cast<HRESULT>(0x80040015);

enum class session_op {
    write, read, read_string, last_status,
    get_send_end, put_send_end,
    get_termination_character, put_termination_character,
    get_timeout, put_timeout,
};

struct session_call {
    session_op op;
    std::string bytes; // write: the bytes sent
    long count = 0;    // write, read, read_string: the count passed; puts: the value
    bool send_end = false; // write: SendEndEnabled at that moment
};

// The record that the session leaves on the thread when it fails with error information.
struct session_error_text {
    static constexpr const wchar_t* source = L"Scripted session";
    static constexpr const wchar_t* help_file = L"C:\\session\\session.chm";
    static constexpr DWORD help_context = 4242;
};

class scripted_session final : public IMessage {
public:
    scripted_session() = default;
    scripted_session(const scripted_session&) = delete;
    scripted_session& operator=(const scripted_session&) = delete;

    // Scripting.
    void add_chunk(std::string bytes, long status);
    // One response cut into chunks of the given sizes (the rest is the last chunk); every
    // chunk but the last ends on the count, the last with final_status.
    void respond(std::string_view response, std::initializer_list<std::size_t> chunk_sizes = {},
                 long final_status = status_end);
    // The n-th call (from 1) of op fails with hr; with a description, error information is
    // left on the thread as a session would, otherwise none.
    void fail(session_op op, int nth, HRESULT hr, std::optional<std::wstring> description = std::nullopt);
    void set_send_end(bool enabled) { send_end_ = enabled ? VARIANT_TRUE : VARIANT_FALSE; }
    // Runs inside every call, before it is recorded: a test can watch or hold a call open.
    void on_call(std::function<void(const session_call&)> hook) { hook_ = std::move(hook); }

    // What happened.
    const std::vector<session_call>& calls() const { return calls_; }
    std::vector<session_op> ops() const;
    std::vector<std::string> writes() const;
    std::vector<long> read_counts() const; // counts passed to Read
    int count(session_op op) const;
    bool send_end() const { return send_end_ == VARIANT_TRUE; }
    long references() const { return references_; }
    std::size_t unread_chunks() const { return chunks_.size(); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references_); }

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
    struct chunk {
        std::string bytes;
        long status;
    };
    struct failure {
        session_op op;
        int nth;
        HRESULT hr;
        std::optional<std::wstring> description;
    };
    // Records the call; the scripted failure for it, or S_OK.
    HRESULT record(session_call call);
    template <typename T>
    HRESULT answer(session_op op, T value, T* out);
    template <typename T>
    HRESULT store(session_op op, T value, T& field);
    // Takes up to count bytes of the next chunk, setting the status.
    std::optional<std::string> take(long count);

    std::vector<session_call> calls_;
    std::deque<chunk> chunks_;
    std::vector<failure> failures_;
    std::function<void(const session_call&)> hook_;
    long references_ = 0;
    LONG last_status_ = status_end;
    VARIANT_BOOL send_end_ = VARIANT_TRUE;
    VARIANT_BOOL termination_character_ = VARIANT_TRUE;
    LONG timeout_ = 2000;
};

} // namespace morvane::testing
