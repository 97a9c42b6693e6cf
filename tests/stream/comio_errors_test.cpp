// comio_buf's error recording and its destruction.
#include <array>
#include <optional>
#include "stream/stream_support.hpp"

namespace morvane::testing {
namespace {

TEST(ComioBufErrors, SessionFailureIsRecordedAndRaised)
{
    using session = scripted_session;
    const struct {
        const char* name;
        session_op op;
        void (*act)(session&, comio_buf&);
    } rows[] = {
        {"Write ending a message", session_op::write, [](session&, comio_buf& b) { put(b, "a"); b.flush_with_end(); }},
        {"SendEndEnabled put", session_op::put_send_end, [](session&, comio_buf& b) { put(b, "a"); b.flush_output(); }},
        {"Write from a full area", session_op::write, [](session&, comio_buf& b) { put(b, pattern(1001)); }},
        {"Read", session_op::read, [](session& s, comio_buf& b) { s.respond("abc"); b.sgetc(); }},
        {"ReadString draining", session_op::read_string,
         [](session& s, comio_buf& b) { start_long_message(s, b); b.discard_input(); }},
    };
    for (const auto& row : rows) {
        for (const bool with_information : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + (with_information ? ", with error information" : ", without"));
            rig r;
            r.session.fail(row.op, 1, link_down, with_information ? std::optional<std::wstring>(L"link down") : std::nullopt);
            clear_thread_error();
            // Without error information from the session the failure becomes the internal error.
            const std::wstring expected = with_information ? session_failure()
                : component_failure(E_UNEXPECTED, L"An internal error occurred.  Please contact your I/O vendor.", 1011);
            EXPECT_EQ(describe(caught([&] { row.act(r.session, *r.buffer); })), expected);
            EXPECT_EQ(describe(r.buffer->last_error()), expected);
            EXPECT_FALSE(take_thread_error()); // recorded, not published
        }
    }
}

TEST(ComioBufErrors, FailedReadLosesItsChunkAndLeavesAnEmptyArea)
{
    rig r(4);
    r.session.fail(session_op::last_status, 2, link_down, L"link down");
    r.session.respond("abcdef", {4});
    r.session.respond("gh");
    EXPECT_EQ(r.buffer->sgetn(std::array<unsigned char, 4>().data(), 4), 4);
    EXPECT_THROW(r.buffer->sgetc(), loc_com_error); // "ef" read, its status not
    r.buffer->discard_input();                      // the area is empty: no draining
    EXPECT_EQ(get_to_eof(*r.buffer), "gh");
    EXPECT_EQ(r.session.count(session_op::read_string), 0);
}

// A session whose Read succeeds without handing out an array.
struct arrayless_session final : IMessage {
    STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(LONG, SAFEARRAY** buffer) override { return *buffer = nullptr, S_OK; }
    STDMETHODIMP get_LastStatus(LONG* status) override { return *status = status_end, S_OK; }
    STDMETHODIMP Write(SAFEARRAY**, LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP ReadString(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_SendEndEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_SendEndEnabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_TerminationCharacterEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_TerminationCharacterEnabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Timeout(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Timeout(LONG) override { return E_NOTIMPL; }
};

TEST(ComioBufErrors, UnusableArrayIsRecordedAsAComponentError)
{
    arrayless_session session;
    comio_buf buffer(&session, 1000, 1000);
    EXPECT_THROW(buffer.sgetc(), win32_hresult_error); // the same exception continues
    EXPECT_EQ(describe(buffer.last_error()), component_failure(E_INVALIDARG, L"Bad Array Argument", 1011));
}

TEST(ComioBufLifetime, DestructionSendsWithoutEndThenDrainsAndSwallowsAFailure)
{
    for (const bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "failing write" : "working session");
        rig r(4);
        failing ? r.session.fail(session_op::write, 1, link_down, L"link down") : start_long_message(r.session, *r.buffer);
        put(*r.buffer, "abc");
        r.buffer.reset(); // an escaping exception would end the program here
        const lines drain = {"read_string 1000", "last_status"}; // 1000 whatever the buffer's size
        EXPECT_EQ(trace(r.session), (failing ? chunk(3) : lines{"read 4", "last_status"} + chunk(3) + drain + drain));
    }
    clear_thread_error();
}

} // namespace
} // namespace morvane::testing
