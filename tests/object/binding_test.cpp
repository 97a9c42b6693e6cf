// The object: binding a session, the I/O methods before a binding, strings, flushing and buffers.
#include <gtest/gtest.h>
#include <functional>
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
    BSTR out_text = reinterpret_cast<BSTR>(0x1234); // a checked out argument is emptied before the failure
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
    EXPECT_EQ(out_text, nullptr);
    EXPECT_EQ(io->FlushRead(), E_FAIL); // leaves its record on the thread
    const guarded_bytes no_access(0);   // a session that cannot be read
    EXPECT_EQ((std::vector{io->ReadString(nullptr), io->WriteString(nullptr, VARIANT_TRUE), io->get_IO(nullptr),
                           io->get_InstrumentBigEndian(nullptr),
                           io->putref_IO(reinterpret_cast<IMessage*>(no_access.data()))}),
              std::vector<HRESULT>(5, E_POINTER));
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

using FmtdioFlushing = bound_fmtdio;

// Resizing the input first discards: when draining fails, the output side is left alone. Once resized, the output
// buffer's size is the size of each chunk sent.
TEST_F(FmtdioFlushing, FailedInputResizeLeavesTheOutputAlone)
{
    read_part_of_a_message();
    ASSERT_EQ(write(L"pending", false), S_OK);
    session.fail(session_op::read_string, 1, link_down, L"link down");
    EXPECT_EQ(outcome(io->SetBufferSize(BufferMask(0x30), 3)), session_failure());
    EXPECT_EQ(session.count(session_op::write), 0);
    ASSERT_EQ(io->FlushWrite(VARIANT_TRUE), S_OK);
    EXPECT_EQ(session.writes(), lines{"pending\n"}) << "a resized output buffer would have sent 'pen' first";
    ASSERT_EQ(io->SetBufferSize(BufferMask(0x20), 10), S_OK);
    ASSERT_EQ(write(std::wstring(25, L'w')), S_OK);
    const lines trace = session.trace();
    EXPECT_EQ(lines(trace.end() - 9, trace.end()), chunk(10) + chunk(10) + lines{"write 6 end"});
}

// ReadNumber releases what its result held (a session, for its count); ReadList and ReadIEEEBlock only empty it.
TEST_F(bound_fmtdio, ResultVariantsAreEmptiedEachInItsOwnWay)
{
    // clang-format off
    const struct { const char* name; std::function<HRESULT(VARIANT*)> call; long count_after; } rows[] = {
        {"ReadNumber", [&](VARIANT* v) { return io->ReadNumber(NumberType_R8, VARIANT_TRUE, v); }, 0},
        {"ReadList", [&](VARIANT* v) { return io->ReadList(NumberType_R8, nullptr, v); }, 1},
        {"ReadIEEEBlock", [&](VARIANT* v) { return io->ReadIEEEBlock(NumberType_R8, 0, 0, v); }, 1}};
    // clang-format on
    auto* const read_only = static_cast<VARIANT*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READONLY));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scripted_session held;
        VARIANT result{};
        V_VT(&result) = VT_UNKNOWN, V_UNKNOWN(&result) = &held, held.AddRef();
        row.call(&result);
        EXPECT_EQ(V_VT(&result), VT_EMPTY);
        EXPECT_EQ(held.references(), row.count_after);
        EXPECT_EQ(row.call(nullptr), E_POINTER);
        EXPECT_EQ(row.call(read_only), E_POINTER) << "emptying it would fault";
    }
    VirtualFree(read_only, 0, MEM_RELEASE);
}

} // namespace
} // namespace morvane::testing
