// comio_buf's error recording and its destruction.
#include <array>
#include <optional>
#include "stream/stream_support.hpp"

namespace morvane::testing {
namespace {

void start_long_message(scripted_session& session, comio_buf& buffer)
{
    session.respond(pattern(1500), {1000});
    buffer.sgetc();
}

TEST(ComioBufErrors, SessionFailureIsRecordedAndRaised)
{
    using setup_fn = void (*)(scripted_session&, comio_buf&);
    const setup_fn pending_output = [](scripted_session&, comio_buf& buffer) { put(buffer, "abc"); };
    const setup_fn response = [](scripted_session& session, comio_buf&) { session.respond("abc"); };
    const struct {
        const char* name;
        session_op op;
        int nth;
        setup_fn setup;
        void (*act)(comio_buf&);
    } rows[] = {
        {"Write ending a message", session_op::write, 1, pending_output, [](comio_buf& b) { b.flush_with_end(); }},
        {"Write of a chunk", session_op::write, 1, pending_output, [](comio_buf& b) { b.flush_output(); }},
        {"SendEndEnabled get", session_op::get_send_end, 1, pending_output, [](comio_buf& b) { b.flush_output(); }},
        {"SendEndEnabled put", session_op::put_send_end, 1, pending_output, [](comio_buf& b) { b.flush_output(); }},
        {"Write while resizing", session_op::write, 1, pending_output, [](comio_buf& b) { b.set_output_size(10); }},
        {"Write from a full area", session_op::write, 1, [](scripted_session&, comio_buf&) {},
         [](comio_buf& b) { put(b, pattern(1001)); }},
        {"Read", session_op::read, 1, response, [](comio_buf& b) { b.sgetc(); }},
        {"LastStatus after Read", session_op::last_status, 1, response, [](comio_buf& b) { b.sgetc(); }},
        {"ReadString draining", session_op::read_string, 1, start_long_message, [](comio_buf& b) { b.discard_input(); }},
        {"LastStatus draining", session_op::last_status, 2, start_long_message, [](comio_buf& b) { b.discard_input(); }},
        {"ReadString while resizing", session_op::read_string, 1, start_long_message,
         [](comio_buf& b) { b.set_input_size(10); }},
    };
    for (const auto& row : rows) {
        for (const bool with_information : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + (with_information ? ", with error information" : ", without"));
            rig r;
            r.session.fail(row.op, row.nth, link_down,
                           with_information ? std::optional<std::wstring>(L"link down") : std::nullopt);
            row.setup(r.session, *r.buffer);
            clear_thread_error();
            // Without error information from the session the failure becomes the internal error.
            const HRESULT hr = with_information ? link_down : E_UNEXPECTED;
            const error_record expected = with_information ? session_record() : internal_record();
            try {
                row.act(*r.buffer);
                ADD_FAILURE() << "no error";
            } catch (const loc_com_error& error) {
                expect_error(&error, hr, expected);
                if (!with_information) {
                    EXPECT_STREQ(error.what(), "An internal error occurred.  Please contact your I/O vendor.");
                }
            }
            expect_error(r.buffer->last_error(), hr, expected);
            EXPECT_FALSE(take_thread_error()); // recorded, not published
        }
    }
}

TEST(ComioBufErrors, FailedWriteDropsThePendingBytes)
{
    rig r;
    r.session.fail(session_op::write, 1, link_down, L"link down");
    put(*r.buffer, "abc");
    EXPECT_THROW(r.buffer->flush_with_end(), loc_com_error);
    EXPECT_THROW(r.buffer->flush_with_end(), loc_com_error); // nothing pending any more
    EXPECT_EQ(r.buffer->last_error()->hresult(), E_FAIL);    // the newer error replaced the record
    put(*r.buffer, "x");
    r.buffer->flush_with_end();
    EXPECT_EQ(r.session.writes(), (lines{"abc\n", "x\n"}));
}

TEST(ComioBufErrors, SendEndRestoredAfterAFailedChunk)
{
    rig r;
    r.session.fail(session_op::write, 1, link_down, L"link down");
    put(*r.buffer, "abc");
    EXPECT_THROW(r.buffer->flush_output(), loc_com_error);
    EXPECT_EQ(trace(r.session), (lines{"get_send_end", "put_send_end 0", "write 3 noend", "put_send_end -1"}));
    EXPECT_TRUE(r.session.send_end());
    r.buffer->flush_output(); // the bytes are gone
    EXPECT_EQ(r.session.count(session_op::write), 1);
}

TEST(ComioBufErrors, FailedReadDropsItsChunk)
{
    rig r;
    r.session.fail(session_op::last_status, 1, link_down, L"link down");
    r.session.respond("abc");
    r.session.respond("def");
    EXPECT_THROW(r.buffer->sgetc(), loc_com_error);
    EXPECT_EQ(get_to_eof(*r.buffer), "def");
}

TEST(ComioBufErrors, FailedReadLeavesAnEmptyArea)
{
    rig r(4, 1000);
    r.session.fail(session_op::read, 2, link_down, L"link down");
    r.session.respond("abcdef", {4});
    EXPECT_EQ(r.buffer->sgetn(std::array<unsigned char, 4>().data(), 4), 4);
    EXPECT_THROW(r.buffer->sgetc(), loc_com_error);
    r.buffer->discard_input(); // the area is empty: no draining
    EXPECT_EQ(r.session.count(session_op::read_string), 0);
    EXPECT_EQ(get_to_eof(*r.buffer), "ef");
}

// A session whose Read succeeds without handing out an array.
class arrayless_session final : public IMessage {
public:
    long references = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        *out = InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, IID_IMessage) ? this : nullptr;
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
    STDMETHODIMP Write(SAFEARRAY**, LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Read(LONG, SAFEARRAY** buffer) override
    {
        *buffer = nullptr;
        return S_OK;
    }
    STDMETHODIMP ReadString(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LastStatus(LONG* status) override
    {
        *status = status_end;
        return S_OK;
    }
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
    {
        comio_buf buffer(&session, 1000, 1000);
        try {
            buffer.sgetc();
            ADD_FAILURE() << "no error";
        } catch (const win32_hresult_error& error) { // the same exception continues
            EXPECT_EQ(error.hresult(), E_INVALIDARG);
            EXPECT_STREQ(error.what(), "Bad Array Argument");
        }
        expect_error(buffer.last_error(), E_INVALIDARG, component_record(L"Bad Array Argument", 1011));
    }
    EXPECT_EQ(session.references, 0);
}

TEST(ComioBufLifetime, DestructionSendsAndDrains)
{
    const struct {
        const char* name;
        void (*setup)(scripted_session&, comio_buf&);
        lines calls;
    } rows[] = {
        {"pending output: no END, no line feed", [](scripted_session&, comio_buf& b) { put(b, "abc"); },
         {"get_send_end", "put_send_end 0", "write 3 noend", "put_send_end -1"}},
        {"partly read message", start_long_message,
         {"read 1000", "last_status", "read_string 1000", "last_status"}},
        {"message read to its end",
         [](scripted_session& s, comio_buf& b) {
             s.respond("abc");
             get_to_eof(b);
         },
         {"read 1000", "last_status"}},
        {"output first, then input",
         [](scripted_session& s, comio_buf& b) {
             start_long_message(s, b);
             put(b, "abc");
         },
         {"read 1000", "last_status", "get_send_end", "put_send_end 0", "write 3 noend", "put_send_end -1",
          "read_string 1000", "last_status"}},
        {"failing write",
         [](scripted_session& s, comio_buf& b) {
             s.fail(session_op::write, 1, link_down, L"link down");
             put(b, "abc");
         },
         {"get_send_end", "put_send_end 0", "write 3 noend", "put_send_end -1"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        rig r;
        row.setup(r.session, *r.buffer);
        r.buffer.reset();
        EXPECT_EQ(trace(r.session), row.calls);
        EXPECT_EQ(r.session.unread_chunks(), 0u);
    }
    clear_thread_error();
}

} // namespace
} // namespace morvane::testing
