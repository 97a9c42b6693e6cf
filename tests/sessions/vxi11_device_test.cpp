// Service requests from tests/vxi11/judge/srq_device.c, at MORVANE_VXI11_DEVICE_PORT (with_srq_device.sh).
#include <cstdlib>
#include "sessions_client.hpp"

namespace morvane::testing {
namespace {

constexpr short requested = 0x45, rqs = 0x40; // what srq_device answers to device_readstb

// Two rounds, ended by a disable and by the release; each request brings its status byte, read once.
TEST(Vxi11Device, TakesServiceRequestsFromADeviceWeDidNotWrite)
{
    const char* port = std::getenv("MORVANE_VXI11_DEVICE_PORT");
    if (!port)
        GTEST_SKIP() << "no device: tests/vxi11/judge/with_srq_device.sh runs one";
    ComPtr<IMessage> session;
    const auto core_port = static_cast<unsigned short>(std::atol(port));
    ASSERT_EQ(open(manager(core_port).Get(), L"TCPIP::127.0.0.1::INSTR", 2000, session), L"open");
    ComPtr<IMorvaneServiceRequests> requests;
    ASSERT_EQ(session.As(&requests), S_OK);
    for (const bool disable : {true, false}) {
        ASSERT_EQ(requests->EnableServiceRequests(), S_OK);
        EXPECT_EQ(wait_request(requests.Get(), 200), session_timeout);
        ASSERT_EQ(write_bytes(session.Get(), "SRQ\n"), S_OK);
        EXPECT_EQ(wait_request(requests.Get(), 5000), requested);
        short status = 0;
        EXPECT_EQ(own(session.Get())->ReadStatusByte(&status), S_OK);
        EXPECT_EQ(status, requested & ~rqs) << "the session's read cleared RQS";
        EXPECT_EQ(disable ? requests->DisableServiceRequests() : S_OK, S_OK);
    }
}

} // namespace
} // namespace morvane::testing
