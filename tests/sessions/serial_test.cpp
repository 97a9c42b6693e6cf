// Serial sessions' own interface over a serial pair (tests/serial/with_serial_pair.sh); skipped without one.
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

constexpr const wchar_t* serial_source = L"Morvane serial session";

// The settings, the values each takes and refuses, and how a write with END ends.
TEST(SerialSessions, KeepTheirLineSettingsWithinRange)
{
    const kinds port(serial);
    if (port.names.empty())
        GTEST_SKIP() << "no serial pair";
    ComPtr<IMessage> session;
    ASSERT_EQ(open(port.resources.Get(), port.names[0].first, 500, session), L"open");
    ComPtr<IMorvaneSerialSettings> line;
    ASSERT_EQ(session.As(&line), S_OK);
    using settings = IMorvaneSerialSettings;
    // clang-format off
    expect_settings<settings>(line.Get(), {
        {&settings::get_BaudRate, &settings::put_BaudRate, 9600, {115200, 1, 9600}, {0, -1, 0x7FFFFFFF},
         L"The baud rate must be from 1 to 2147483646."},
        {&settings::get_Parity, &settings::put_Parity, 0, {2, 4, 0}, {-1, 5},
         L"The parity must be 0 (none), 1 (odd), 2 (even), 3 (mark) or 4 (space)."},
        {&settings::get_StopBits, &settings::put_StopBits, 10, {20, 15, 10}, {1, 2, 0},
         L"Stop bits must be 10 (one), 15 or 20 (two)."},
        {&settings::get_FlowControl, &settings::put_FlowControl, 0, {1, 0}, {3, 8, -1},
         L"The flow control must be 0 (none), 1 (XON/XOFF), 2 (RTS/CTS) or 4 (DTR/DSR)."},
        {&settings::get_EndOut, &settings::put_EndOut, 0, {2, 0}, {1, 3},
         L"EndOut must be 0 (none) or 2 (the termination character)."},
    }, serial_source);
    // clang-format on
    // Data bits from 5 to 8; Wine's serial line over a pseudo-terminal takes 8 only, and says so.
    for (const auto& [bits, hr, told] :
         {std::tuple<short, HRESULT, const wchar_t*>{4, E_INVALIDARG, L"Data bits must be from 5 to 8."},
          {9, E_INVALIDARG, L"Data bits must be from 5 to 8."},
          {7, 0x80070057, L"The serial port refused the setting."}})
        EXPECT_EQ(outcome(line->put_DataBits(bits)),
                  error_line(hr, told, serial_source, L"", 0, IID_IMorvaneSerialSettings));
    short bits = 0;
    EXPECT_EQ(line->get_DataBits(&bits), S_OK);
    EXPECT_EQ(bits, 8);

    // "*IDN?" with END and no line feed: the instrument hears a message only when EndOut adds one.
    bound_component instrument(session.Get());
    EXPECT_EQ(write_bytes(session.Get(), "*IDN?"), S_OK);
    EXPECT_EQ(code_of(instrument.read()), std::to_wstring(session_timeout));
    EXPECT_EQ(line->put_EndOut(2), S_OK);
    EXPECT_EQ(write_bytes(session.Get(), ""), S_OK);
    EXPECT_EQ(instrument.read(), L"Morvane,SIM-1,0,1.0\n") << "the line feed ended the message that waited";
}

} // namespace
} // namespace morvane::testing
