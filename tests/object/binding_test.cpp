// The object: its call frame, binding a session, the I/O methods before a binding, strings, flushing and buffers.
#include <gtest/gtest.h>
#include <comdef.h>
#include <functional>
#include "object/call_frame.hpp"
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using Microsoft::WRL::ComPtr;

// Every I/O method needs a session: message 112. Pointers are checked first; a bad one leaves the thread's record.
TEST(FmtdioUnbound, IoMethodsReportMessage112AfterThePointerChecks)
{
    ComPtr<IFormattedIO488> io = make_fmtdio();
    unique_bstr text = bstr(L"x");
    VARIANT value{};
    BSTR out_text = nullptr;
    const std::vector<std::pair<const char*, std::function<HRESULT()>>> methods = {
        {"WriteString", [&] { return io->WriteString(text.get(), VARIANT_TRUE); }},
        {"WriteNumber", [&] { return io->WriteNumber(value, NumberType_Any, VARIANT_TRUE); }},
        {"WriteList", [&] { return io->WriteList(&value, NumberType_Any, text.get(), VARIANT_TRUE); }},
        {"WriteIEEEBlock", [&] { return io->WriteIEEEBlock(text.get(), value, VARIANT_TRUE); }},
        {"WriteIEEEBlock without a command", [&] { return io->WriteIEEEBlock(nullptr, value, VARIANT_TRUE); }},
        {"ReadString", [&] { return io->ReadString(&out_text); }},
        {"ReadNumber", [&] { return io->ReadNumber(NumberType_Any, VARIANT_TRUE, &value); }},
        {"ReadList, its type checked after", [&] { return io->ReadList(NumberType(0), text.get(), &value); }},
        {"ReadIEEEBlock", [&] { return io->ReadIEEEBlock(NumberType_I2, VARIANT_FALSE, VARIANT_TRUE, &value); }},
        {"FlushWrite", [&] { return io->FlushWrite(VARIANT_TRUE); }},
        {"FlushRead", [&] { return io->FlushRead(); }},
        {"SetBufferSize", [&] { return io->SetBufferSize(BufferMask(0x30), 0); }}, // 112 before 120
    };
    const std::wstring no_session = component_failure(
        E_FAIL, L"No valid COM I/O resource available, set the IO property to a valid COM I/O resource.", 1030);
    for (const auto& [name, call] : methods) {
        SCOPED_TRACE(name);
        EXPECT_EQ(outcome(call()), no_session);
    }
    EXPECT_EQ(io->FlushRead(), E_FAIL); // leaves its record on the thread
    EXPECT_EQ((std::vector{io->ReadString(nullptr), io->WriteString(nullptr, VARIANT_TRUE), io->get_IO(nullptr),
                           io->get_InstrumentBigEndian(nullptr)}),
              std::vector<HRESULT>(4, E_POINTER));
    EXPECT_TRUE(io->get_InstrumentBigEndian(&V_BOOL(&value)) == S_OK && V_BOOL(&value) == VARIANT_TRUE) << "at first";
    EXPECT_EQ(outcome(E_FAIL), no_session);
}

using FmtdioBinding = bound_fmtdio;

// On rebinding and detaching the input is drained first, then the output sent without END or line feed;
// on final release the other way round. IO then gives what is bound, with a reference for the caller.
TEST_F(FmtdioBinding, OldStreamsDrainAndSendInTheirOrder)
{
    const lines drain = {"read_string 1000", "last_status"};
    // clang-format off
    const struct { const char* name; std::function<void()> let_go; lines expected; IMessage* bound; } rows[] = {
        {"rebinding", [&] { EXPECT_EQ(io->putref_IO(&session), S_OK); }, drain + chunk(3), &session},
        {"detaching", [&] { EXPECT_EQ(io->putref_IO(nullptr), S_OK); }, drain + chunk(3), nullptr},
        {"final release", [&] { io.Reset(); }, chunk(3) + drain, nullptr}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        io = make_fmtdio();
        ASSERT_EQ(io->putref_IO(&session), S_OK);
        read_part_of_a_message();
        ASSERT_EQ(write(L"xyz", false), S_OK);
        const long before = static_cast<long>(session.calls().size());
        row.let_go();
        const lines trace = session.trace();
        EXPECT_EQ(lines(trace.begin() + before, trace.end()), row.expected);
        const long held = session.references();
        ComPtr<IMessage> bound;
        EXPECT_TRUE(!io || (io->get_IO(&bound) == S_OK && bound.Get() == row.bound));
        bound.Reset();
        EXPECT_EQ(session.references(), row.bound ? held : 0);
    }
}

using FmtdioStrings = bound_fmtdio;

// Whole chunks go without END once more follows; the rest ends with exactly one line feed, END as the session says.
TEST_F(FmtdioStrings, WritesEndTheMessageWithExactlyOneLineFeed)
{
    const std::wstring long_text = std::wstring(2000, L'w') + L"\u00e9";
    // clang-format off
    const struct { const char* name; std::vector<std::pair<std::wstring, bool>> texts; lines trace, writes; } rows[] = {
        {"query with its own line feed", {{L"*IDN?\n", true}}, {"write 6 end"}, {"*IDN?\n"}},
        {"two writes, one message", {{L"A", false}, {L"B", true}}, {"write 3 end"}, {"AB\n"}},
        {"a NUL ends the text", {{std::wstring(L"AB\0CD", 5), true}}, {"write 3 end"}, {"AB\n"}},
        {"ANSI code page", {{L"\u00e9\u20ac\u4e00", true}}, {"write 4 end"}, {"\xe9\x80?\n"}},
        {"chunks", {{L"ab", false}, {long_text, true}}, chunk(1000) + chunk(1000) + lines{"write 4 end"},
         {"ab" + std::string(998, 'w'), std::string(1000, 'w'), "ww\xe9\n"}},
        {"a full buffer waits", {{std::wstring(1000, L'w'), false}, {L"", true}}, {"write 1001 end"},
         {std::string(1000, 'w') + "\n"}}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scripted_session fresh;
        ASSERT_EQ(io->putref_IO(&fresh), S_OK);
        for (const auto& [text, end] : row.texts)
            EXPECT_EQ(write(text, end), S_OK);
        EXPECT_EQ(fresh.trace(), row.trace);
        EXPECT_EQ(fresh.writes(), row.writes);
        ASSERT_EQ(io->putref_IO(&session), S_OK);
    }
    EXPECT_EQ(outcome(write(L"")),
              component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033));
}

// A failed read leaves the out argument null and the stream good; bytes above 0x7F come through the ANSI code page.
TEST_F(FmtdioStrings, ReadsOneWholeResponseAtATime)
{
    BSTR text = reinterpret_cast<BSTR>(0x1234);
    EXPECT_EQ(outcome(io->ReadString(&text)), session_failure(session_timed_out, session_timeout)); // nothing scripted
    EXPECT_EQ(text, nullptr);
    session.respond("\xe9\x80\n", {1});
    EXPECT_EQ(read(), L"\u00e9\u20ac\n");
}

using FmtdioFlushing = bound_fmtdio;

TEST_F(FmtdioFlushing, SetBufferSize)
{
    // Help context 0: no record; message 120 whatever the mask; other bits are ignored.
    // clang-format off
    const struct { long mask, size; HRESULT expected; DWORD help_context; } rows[] = {
        {0x40, 100, E_INVALIDARG, 0}, {0x40, -5, E_INVALIDARG, 1036}, {0x50, 16, S_OK, 0}, {0x20, 10, S_OK, 0}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mask);
        const HRESULT hr = io->SetBufferSize(BufferMask(row.mask), row.size);
        EXPECT_EQ(outcome(hr), row.help_context
                                   ? component_failure(row.expected, L"The Buffer's size must be greater than zero.",
                                                       row.help_context)
                                   : describe(row.expected, nullptr));
    }
    const std::string response = "0123456789abcdefghijklmnopqrstuvwxyz,.:\n";
    session.respond(response, {16, 16});
    EXPECT_EQ(read(), std::wstring(response.begin(), response.end()));
    ASSERT_EQ(write(std::wstring(25, L'w')), S_OK);
    ASSERT_EQ(io->putref_IO(&session), S_OK); // rebinding restores buffers of 1000 bytes
    session.respond(pattern(1500));
    ASSERT_EQ(write(std::wstring(1001, L'w'), false), S_OK);
    EXPECT_EQ(read().size(), 1500u);
    const lines reads_of_16 = {"read 16", "last_status", "read 16", "last_status", "read 16", "last_status"};
    EXPECT_EQ(session.trace(), (reads_of_16 + chunk(10) + chunk(10) + lines{"write 6 end"} + chunk(1000) +
                                lines{"read 1000", "last_status", "read 1000", "last_status"}));
}

// Resizing the input first discards: when draining fails, the output side is left alone.
TEST_F(FmtdioFlushing, FailedInputResizeLeavesTheOutputAlone)
{
    read_part_of_a_message();
    ASSERT_EQ(write(L"pending", false), S_OK);
    session.fail(session_op::read_string, 1, link_down, L"link down");
    EXPECT_EQ(outcome(io->SetBufferSize(BufferMask(0x30), 3)), session_failure());
    EXPECT_EQ(session.count(session_op::write), 0);
    ASSERT_EQ(io->FlushWrite(VARIANT_TRUE), S_OK);
    EXPECT_EQ(session.writes(), lines{"pending\n"}) << "a resized output buffer would have sent 'pen' first";
}

// Resizing the output sends the pending bytes first; when that fails, they are gone.
TEST_F(FmtdioFlushing, FailedOutputResizeDropsThePendingOutput)
{
    session.fail(session_op::get_send_end, 1, link_down, L"link down");
    ASSERT_EQ(write(L"abc", false), S_OK);
    EXPECT_EQ(outcome(io->SetBufferSize(BufferMask(0x20), 3)), session_failure());
    EXPECT_EQ(io->FlushWrite(VARIANT_TRUE), E_FAIL);
}

// Each clause, its answer and whether it resets the stream; an exception no clause takes is E_UNEXPECTED, unrecorded.
TEST(CallFrame, EachClauseAndWhatItDoes)
{
    const auto bare = [](HRESULT hr) { return std::to_wstring(hr) + L" without a record"; };
    // clang-format off
    const struct { handler_list list; void (*raise)(); std::wstring outcome; bool stream_reset; } rows[] = {
        {write_text_method.handlers, [] { throw bad_pointer(); }, bare(E_POINTER), false},
        {write_text_method.handlers, [] { raise(no_io_resource); }, component_failure(E_FAIL,
         L"No valid COM I/O resource available, set the IO property to a valid COM I/O resource.", 1030), true},
        {write_text_method.handlers, [] { throw std::logic_error("unforeseen"); }, bare(E_UNEXPECTED), false},
        {write_value_method.handlers,
         [] { throw win32_hresult_error(message_id::coercion_failed, DISP_E_TYPEMISMATCH); },
         component_failure(DISP_E_TYPEMISMATCH, L"The variant argument could not be coerced to the desired type.",
                           1017), false},
        {write_text_method.handlers, [] { throw _com_error(E_OUTOFMEMORY); },
         error_line(E_OUTOFMEMORY, L"", L"", L"", 0, IID_IFormattedIO488), true},
        {read_method.handlers, [] { throw _com_error(E_OUTOFMEMORY); }, bare(E_UNEXPECTED), false}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
        clear_thread_error();
        byte_ios stream(nullptr);
        stream.setstate(std::ios_base::failbit);
        HRESULT hr = S_OK;
        try {
            row.raise();
        } catch (...) {
            hr = translate_current_exception(row.list, {&stream, nullptr});
        }
        EXPECT_EQ(outcome(hr), row.outcome);
        // clear() on a stream without a buffer leaves only the bad bit.
        EXPECT_EQ(stream.rdstate(),
                  row.stream_reset ? std::ios_base::badbit : std::ios_base::badbit | std::ios_base::failbit);
    }
}

TEST(CallFrame, PointerChecks)
{
    long value = 0x12345678;
    EXPECT_NO_THROW(check_out_ptr(&value, sizeof value));
    EXPECT_EQ(value, 0) << "an out argument is emptied";
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    EXPECT_NO_THROW(check_in_ptr(page, 8));
    EXPECT_THROW(check_out_ptr(page, 8), bad_pointer);
    EXPECT_THROW(clear_result(static_cast<VARIANT*>(page)), bad_pointer) << "emptying it would fault";
    DWORD old = 0;
    VirtualProtect(page, 4096, PAGE_NOACCESS, &old);
    EXPECT_THROW(check_in_ptr(page, 8), bad_pointer);
    EXPECT_EQ(make_fmtdio()->putref_IO(static_cast<IMessage*>(page)), E_POINTER) << "a session that cannot be read";
    VirtualFree(page, 0, MEM_RELEASE);
}

// An object whose only use is to count its releases.
struct counted final : IUnknown {
    long count = 1;
    STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++count); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--count); }
};

// ReadNumber releases what its result held; ReadList and ReadIEEEBlock only empty theirs.
TEST_F(bound_fmtdio, ResultVariantsAreEmptiedEachInItsOwnWay)
{
    // clang-format off
    const struct { const char* name; std::function<HRESULT(VARIANT*)> call; long count_after; } rows[] = {
        {"ReadNumber", [&](VARIANT* v) { return io->ReadNumber(NumberType_R8, VARIANT_TRUE, v); }, 1},
        {"ReadList", [&](VARIANT* v) { return io->ReadList(NumberType_R8, nullptr, v); }, 2},
        {"ReadIEEEBlock", [&](VARIANT* v) { return io->ReadIEEEBlock(NumberType_R8, 0, 0, v); }, 2}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        counted held;
        VARIANT result{};
        V_VT(&result) = VT_UNKNOWN, V_UNKNOWN(&result) = &held, held.AddRef();
        row.call(&result);
        EXPECT_EQ(V_VT(&result), VT_EMPTY);
        EXPECT_EQ(held.count, row.count_after);
        EXPECT_EQ(row.call(nullptr), E_POINTER);
    }
}

} // namespace
} // namespace morvane::testing
