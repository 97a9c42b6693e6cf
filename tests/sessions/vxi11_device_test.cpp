// Service requests from a VXI-11 device we did not write the RPC of: tests/vxi11/judge/srq_device.c,
// built by the distribution's rpcgen and libtirpc and run by tests/vxi11/judge/with_srq_device.sh,
// which names its core port in MORVANE_VXI11_DEVICE_PORT. The device checks on its side what the
// session told it (create_intr_chan, device_enable_srq, the teardown) and prints it.
#include <cwchar>
#include <string>
#include "platform/safearray.hpp"
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

constexpr HRESULT timed_out = static_cast<HRESULT>(0x80040015);
constexpr short requested = 0x45, rqs = 0x40; // what srq_device answers to device_readstb

HRESULT write(IMessage* session, const std::string& text)
{
    unique_safearray bytes(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(text.size())));
    std::copy(text.begin(), text.end(), static_cast<char*>(bytes->pvData));
    SAFEARRAY* given = bytes.get();
    LONG written = 0;
    return session->Write(&given, static_cast<LONG>(text.size()), &written);
}

// Two rounds, which the device counts: the first ends with a disable, the second with the release.
// No request before the device's; its request brings the status byte it gave, read once.
TEST(Vxi11Device, TakesServiceRequestsFromADeviceWeDidNotWrite)
{
    wchar_t text[16] = {};
    unsigned port = 0;
    if (!GetEnvironmentVariableW(L"MORVANE_VXI11_DEVICE_PORT", text, 16) || swscanf(text, L"%u", &port) != 1)
        GTEST_SKIP() << "no device: tests/vxi11/judge/with_srq_device.sh runs one";
    auto resources = manager();
    ASSERT_EQ(resources->put_CorePort(static_cast<LONG>(port)), S_OK);
    ComPtr<IMessage> session;
    ASSERT_EQ(open(resources.Get(), L"TCPIP::127.0.0.1::INSTR", 2000, session), L"open");
    ComPtr<IMorvaneServiceRequests> requests;
    ASSERT_EQ(session.As(&requests), S_OK);
    for (const bool disable : {true, false}) {
        ASSERT_EQ(requests->EnableServiceRequests(), S_OK);
        short status = 0;
        EXPECT_EQ(requests->WaitForServiceRequest(200, &status), timed_out);
        ASSERT_EQ(write(session.Get(), "SRQ\n"), S_OK);
        EXPECT_EQ(requests->WaitForServiceRequest(5000, &status), S_OK);
        EXPECT_EQ(status, requested);
        EXPECT_EQ(own(session.Get())->ReadStatusByte(&status), S_OK);
        EXPECT_EQ(status, requested & ~rqs) << "the session's read cleared RQS";
        if (disable) {
            EXPECT_EQ(requests->DisableServiceRequests(), S_OK);
        }
    }
    requests.Reset();
    session.Reset(); // the device ends at destroy_link and tells what it saw
}

} // namespace
} // namespace morvane::testing
