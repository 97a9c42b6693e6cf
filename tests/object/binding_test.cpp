// Binding a session, the properties, and what every I/O method does before a binding.
#include <gtest/gtest.h>
#include <functional>
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using Microsoft::WRL::ComPtr;

TEST(FmtdioUnbound, IoIsNullBeforeBinding)
{
    ComPtr<IFormattedIO488> io = make_fmtdio();
    IMessage* session = reinterpret_cast<IMessage*>(0x1234);
    EXPECT_EQ(io->get_IO(&session), S_OK);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(io->putref_IO(nullptr), S_OK); // detaching while unbound changes nothing
    EXPECT_EQ(io->get_IO(&session), S_OK);
    EXPECT_EQ(session, nullptr);
}

// Every I/O method needs a session: message 112 with the component's full record.
TEST(FmtdioUnbound, IoMethodsReportMessage112)
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
        {"ReadString", [&] { return io->ReadString(&out_text); }},
        {"ReadNumber", [&] { return io->ReadNumber(NumberType_Any, VARIANT_TRUE, &value); }},
        {"ReadList", [&] { return io->ReadList(NumberType_Any, text.get(), &value); }},
        {"ReadIEEEBlock", [&] { return io->ReadIEEEBlock(NumberType_I2, VARIANT_FALSE, VARIANT_TRUE, &value); }},
        {"FlushWrite", [&] { return io->FlushWrite(VARIANT_TRUE); }},
        {"FlushRead", [&] { return io->FlushRead(); }},
        {"SetBufferSize", [&] { return io->SetBufferSize(BufferMask(0x30), 0); }}, // 112 before 120
    };
    for (const auto& [name, call] : methods) {
        SCOPED_TRACE(name);
        clear_thread_error();
        EXPECT_EQ(call(), E_FAIL);
        const std::optional<error_record> record = take_thread_error();
        ASSERT_TRUE(record);
        EXPECT_EQ(record->description,
                  L"No valid COM I/O resource available, set the IO property to a valid COM I/O resource.");
        EXPECT_EQ(record->source, L"Tellurix");
        EXPECT_EQ(record->help_context, 1030u);
        EXPECT_TRUE(IsEqualGUID(record->interface_id, IID_IFormattedIO488));
    }
}

// Pointers are checked before the binding, and a bad pointer leaves the thread's record alone.
TEST(FmtdioUnbound, BadPointersComeBeforeTheBindingCheck)
{
    ComPtr<IFormattedIO488> io = make_fmtdio();
    EXPECT_EQ(io->FlushRead(), E_FAIL); // leaves message 112 on the thread

    EXPECT_EQ(io->ReadString(nullptr), E_POINTER);
    EXPECT_EQ(io->WriteString(nullptr, VARIANT_TRUE), E_POINTER);
    EXPECT_EQ(io->get_IO(nullptr), E_POINTER);
    EXPECT_EQ(io->get_InstrumentBigEndian(nullptr), E_POINTER);

    const std::optional<error_record> record = take_thread_error();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->help_context, 1030u);
}

TEST(FmtdioUnbound, InstrumentBigEndianKeepsWhatIsPut)
{
    ComPtr<IFormattedIO488> io = make_fmtdio();
    scripted_session session;
    VARIANT_BOOL value = 0;
    EXPECT_EQ(io->get_InstrumentBigEndian(&value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
    for (VARIANT_BOOL put : {VARIANT_BOOL(1), VARIANT_BOOL(0), VARIANT_BOOL(-1), VARIANT_BOOL(7)}) {
        SCOPED_TRACE(put);
        EXPECT_EQ(io->put_InstrumentBigEndian(put), S_OK);
        EXPECT_EQ(io->putref_IO(&session), S_OK); // survives binding and detaching
        EXPECT_EQ(io->putref_IO(nullptr), S_OK);
        EXPECT_EQ(io->get_InstrumentBigEndian(&value), S_OK);
        EXPECT_EQ(value, put);
    }
    EXPECT_EQ(session.references(), 0);
}

TEST(FmtdioUnbound, SupportsErrorInfoOnlyForItsInterface)
{
    ComPtr<IFormattedIO488> io = make_fmtdio();
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(io.As(&support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IFormattedIO488), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ISupportErrorInfo), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IMessage), S_FALSE);
}

using FmtdioBinding = bound_fmtdio;

TEST_F(FmtdioBinding, IoGivesTheSessionWithOneReferenceForTheCaller)
{
    const long held = session.references();
    IMessage* bound = nullptr;
    ASSERT_EQ(io->get_IO(&bound), S_OK);
    EXPECT_EQ(bound, static_cast<IMessage*>(&session));
    EXPECT_EQ(session.references(), held + 1);
    bound->Release();
}

TEST_F(FmtdioBinding, DetachingReleasesEveryReference)
{
    EXPECT_GT(session.references(), 0);
    EXPECT_EQ(io->putref_IO(nullptr), S_OK);
    EXPECT_EQ(session.references(), 0);
    EXPECT_EQ(write(L"x"), E_FAIL);
}

// Rebinding, even to the same session, sends pending output as it is (no END, no line
// feed) and builds fresh buffers of 1000 bytes, whatever SetBufferSize had made them.
TEST_F(FmtdioBinding, RebindingSendsPendingOutputAndRestoresDefaultSizes)
{
    ASSERT_EQ(io->SetBufferSize(BufferMask(0x30), 4), S_OK);
    ASSERT_EQ(write(L"AB", false), S_OK);
    ASSERT_EQ(io->putref_IO(&session), S_OK);
    ASSERT_EQ(session.writes(), (std::vector<std::string>{"AB"}));
    EXPECT_EQ(session.ops(), (std::vector<session_op>{session_op::get_send_end, session_op::put_send_end,
                                                       session_op::write, session_op::put_send_end}));
    EXPECT_FALSE(session.calls()[2].send_end) << "pending output went out with END";

    session.respond(std::string(1500, 'r'), {1000});
    EXPECT_EQ(read().size(), 1500u);
    EXPECT_EQ(session.read_counts(), (std::vector<long>{1000, 1000}));
    ASSERT_EQ(write(std::wstring(2500, L'w')), S_OK);
    const std::vector<std::string> writes = session.writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[1].size(), 1000u);
    EXPECT_EQ(writes[2].size(), 1000u);
    EXPECT_EQ(writes[3].size(), 501u);
}

TEST_F(FmtdioBinding, FinalReleaseSendsPendingOutput)
{
    ASSERT_EQ(write(L"*RST", false), S_OK);
    ASSERT_EQ(io->FlushWrite(VARIANT_FALSE), S_OK);
    ASSERT_EQ(write(L"*CLS", false), S_OK);
    io.Reset();
    EXPECT_EQ(session.writes(), (std::vector<std::string>{"*RST", "*CLS"}));
}

} // namespace
} // namespace morvane::testing
