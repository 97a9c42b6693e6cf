// Binding a session, the properties, and what every I/O method does before a binding.
#include <gtest/gtest.h>
#include <functional>
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using Microsoft::WRL::ComPtr;

// Every I/O method needs a session: message 112. Pointers are checked first, and a bad
// pointer leaves the thread's record alone.
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
    EXPECT_EQ(io->ReadString(nullptr), E_POINTER);
    EXPECT_EQ(io->WriteString(nullptr, VARIANT_TRUE), E_POINTER);
    EXPECT_EQ(io->get_IO(nullptr), E_POINTER);
    EXPECT_EQ(io->get_InstrumentBigEndian(nullptr), E_POINTER);
    EXPECT_TRUE(io->get_InstrumentBigEndian(&V_BOOL(&value)) == S_OK && V_BOOL(&value) == VARIANT_TRUE) << "at first";
    EXPECT_EQ(outcome(E_FAIL), no_session);
}

using FmtdioBinding = bound_fmtdio;

// IO gives the bound session with a reference for the caller; detaching lets go of every one.
TEST_F(FmtdioBinding, IoGivesTheSession)
{
    ComPtr<IMessage> bound;
    ASSERT_EQ(io->get_IO(&bound), S_OK);
    EXPECT_EQ(bound.Get(), static_cast<IMessage*>(&session));
    bound.Reset();
    EXPECT_EQ(io->putref_IO(nullptr), S_OK);
    EXPECT_EQ(session.references(), 0);
    EXPECT_EQ(io->get_IO(&bound), S_OK);
    EXPECT_EQ(bound, nullptr);
}

// Letting go of the streams: on rebinding and detaching the input goes first (its message is
// drained), then the output (its pending bytes sent without END or line feed); on final
// release the other way round.
TEST_F(FmtdioBinding, OldStreamsDrainAndSendInTheirOrder)
{
    const lines drain = {"read_string 1000", "last_status"};
    const struct {
        const char* name;
        std::function<void()> let_go;
        lines expected;
    } rows[] = {
        {"rebinding", [&] { EXPECT_EQ(io->putref_IO(&session), S_OK); }, drain + chunk(3)},
        {"detaching", [&] { EXPECT_EQ(io->putref_IO(nullptr), S_OK); }, drain + chunk(3)},
        {"final release", [&] { io.Reset(); }, chunk(3) + drain},
    };
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
    }
}

TEST_F(FmtdioBinding, RebindingRestoresBuffersOf1000Bytes)
{
    ASSERT_EQ(io->SetBufferSize(BufferMask(0x30), 4), S_OK);
    ASSERT_EQ(io->putref_IO(&session), S_OK);
    session.respond(pattern(1500));
    ASSERT_EQ(write(std::wstring(1001, L'w'), false), S_OK);
    EXPECT_EQ(read().size(), 1500u);
    EXPECT_EQ(session.trace(), (chunk(1000) + lines{"read 1000", "last_status", "read 1000", "last_status"}));
}

} // namespace
} // namespace morvane::testing
