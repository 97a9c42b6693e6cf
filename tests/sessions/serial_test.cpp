// Serial sessions' own interface, against instrument-sim --serial at the far end of a serial pair
// (tests/serial/with_serial_pair.sh); skipped without one. What every kind of session does is
// manager_test's, which runs over the pair too.
#include <algorithm>
#include <chrono>
#include <string_view>
#include "instrument-sim/instrument_server_process.hpp"
#include "platform/safearray.hpp"
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr const wchar_t* serial_source = L"Morvane serial session";

// The settings as a session opens, the values each takes and refuses (with what it is told),
// and how a write with END ends: as it is, or with the termination character.
TEST(SerialSessions, KeepTheirLineSettingsWithinRange)
{
    const auto pair = serial_pair();
    if (!pair)
        GTEST_SKIP() << "no serial pair";
    const instrument_server_process server(L"..\\..\\bin\\",
                                           L"--serial COM" + std::to_wstring(pair->second) + L" --seconds 60");
    ComPtr<IMessage> session;
    ASSERT_EQ(open(manager().Get(), L"ASRL" + std::to_wstring(pair->first) + L"::INSTR", 500, session), L"open");
    ComPtr<IMorvaneSerialSettings> line;
    ASSERT_EQ(session.As(&line), S_OK);
    using getter = HRESULT (STDMETHODCALLTYPE IMorvaneSerialSettings::*)(LONG*);
    using putter = HRESULT (STDMETHODCALLTYPE IMorvaneSerialSettings::*)(LONG);
    // clang-format off
    const struct { getter get; putter put; LONG initial; std::vector<LONG> taken, refused; const wchar_t* told; } settings[] = {
        {&IMorvaneSerialSettings::get_BaudRate, &IMorvaneSerialSettings::put_BaudRate, 9600, {115200, 1, 9600},
         {0, -1, 0x7FFFFFFF}, L"The baud rate must be from 1 to 2147483646."},
        {&IMorvaneSerialSettings::get_Parity, &IMorvaneSerialSettings::put_Parity, 0, {2, 4, 0}, {-1, 5},
         L"The parity must be 0 (none), 1 (odd), 2 (even), 3 (mark) or 4 (space)."},
        {&IMorvaneSerialSettings::get_StopBits, &IMorvaneSerialSettings::put_StopBits, 10, {20, 15, 10}, {1, 2, 0},
         L"Stop bits must be 10 (one), 15 or 20 (two)."},
        {&IMorvaneSerialSettings::get_FlowControl, &IMorvaneSerialSettings::put_FlowControl, 0, {1, 0}, {3, 8, -1},
         L"The flow control must be 0 (none), 1 (XON/XOFF), 2 (RTS/CTS) or 4 (DTR/DSR)."},
        {&IMorvaneSerialSettings::get_EndOut, &IMorvaneSerialSettings::put_EndOut, 0, {2, 0}, {1, 3},
         L"EndOut must be 0 (none) or 2 (the termination character)."},
    };
    // clang-format on
    for (const auto& setting : settings) {
        SCOPED_TRACE(setting.told);
        LONG value = -7;
        EXPECT_EQ(((*line.Get()).*setting.get)(&value), S_OK);
        EXPECT_EQ(value, setting.initial);
        for (const LONG taken : setting.taken) {
            EXPECT_EQ(((*line.Get()).*setting.put)(taken), S_OK) << taken;
            EXPECT_EQ(((*line.Get()).*setting.get)(&value), S_OK);
            EXPECT_EQ(value, taken);
        }
        for (const LONG refused : setting.refused) {
            EXPECT_EQ(outcome(((*line.Get()).*setting.put)(refused)),
                      error_line(E_INVALIDARG, setting.told, serial_source, L"", 0, IID_IMorvaneSerialSettings));
            EXPECT_EQ(((*line.Get()).*setting.get)(&value), S_OK);
            EXPECT_EQ(value, setting.taken.back()) << "a refused value is not kept";
        }
    }
    short bits = 0;
    EXPECT_EQ(line->get_DataBits(&bits), S_OK);
    EXPECT_EQ(bits, 8);
    for (const short refused : {4, 9})
        EXPECT_EQ(outcome(line->put_DataBits(refused)), error_line(E_INVALIDARG, L"Data bits must be from 5 to 8.",
                                                                   serial_source, L"", 0, IID_IMorvaneSerialSettings));
    // Wine's serial line over a pseudo-terminal takes 8 data bits only.
    EXPECT_EQ(outcome(line->put_DataBits(7)),
              error_line(static_cast<HRESULT>(0x80070057), L"The serial port refused the setting.", serial_source, L"",
                         0, IID_IMorvaneSerialSettings));
    EXPECT_EQ(line->get_DataBits(&bits), S_OK);
    EXPECT_EQ(bits, 8);

    // "*IDN?" with END and no line feed: the instrument hears a message only when EndOut adds one.
    const auto send = [&](std::string_view bytes) {
        const unique_safearray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
        std::copy(bytes.begin(), bytes.end(), static_cast<char*>(array->pvData));
        SAFEARRAY* given = array.get();
        LONG written = 0;
        return session->Write(&given, static_cast<LONG>(bytes.size()), &written);
    };
    bound_component instrument(session.Get());
    EXPECT_EQ(send("*IDN?"), S_OK);
    const std::wstring unanswered = instrument.read();
    EXPECT_EQ(unanswered.substr(0, unanswered.find(L' ')), std::to_wstring(static_cast<HRESULT>(0x80040015)));
    EXPECT_EQ(line->put_EndOut(2), S_OK);
    EXPECT_EQ(send(""), S_OK);
    EXPECT_EQ(instrument.read(), L"Morvane,SIM-1,0,1.0\n") << "the line feed ended the message that waited";
}

// A port the platform does not have fails to open with its reason.
TEST(SerialSessions, ThatDoNotExistAreNotFound)
{
    ComPtr<IMessage> session;
    const std::wstring refused = open(manager().Get(), L"ASRL249::INSTR", 500, session);
    EXPECT_EQ(refused.substr(0, refused.find(L' ')), std::to_wstring(static_cast<HRESULT>(0x80040011)));
    EXPECT_NE(refused.find(L"Could not open COM249"), std::wstring::npos) << refused;
}

} // namespace
} // namespace morvane::testing
