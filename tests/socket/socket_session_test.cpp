// The TCP socket session against a server on the loopback address that the test runs itself.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <gtest/gtest.h>
#include <chrono>
#include <functional>
#include <thread>
#include "socket/socket_resource.hpp"
#include "socket/socket_session.hpp"
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using namespace socket_session;
using Microsoft::WRL::ComPtr;

// Accepts one connection on 127.0.0.1 and runs `script` on it in a thread of its own.
class loopback_server {
public:
    explicit loopback_server(std::function<void(SOCKET)> script)
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener_, 1), 0);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, script] {
            const SOCKET client = accept(listener_, nullptr, nullptr);
            if (client != INVALID_SOCKET) {
                script(client);
                closesocket(client);
            }
        });
    }
    ~loopback_server()
    {
        closesocket(listener_); // ends an accept that no one will answer
        thread_.join();
        WSACleanup();
    }
    std::wstring resource() const { return L"TCPIP::127.0.0.1::" + std::to_wstring(port_) + L"::SOCKET"; }

private:
    SOCKET listener_;
    unsigned short port_ = 0;
    std::thread thread_;
};

void send_text(SOCKET to, std::string_view text)
{
    send(to, text.data(), static_cast<int>(text.size()), 0);
}
std::string receive_line(SOCKET from)
{
    std::string line;
    for (char c; recv(from, &c, 1, 0) == 1 && (line += c, c != '\n');) {
    }
    return line;
}
void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

ComPtr<IMessage> open(const loopback_server& server, LONG timeout = 2000)
{
    ComPtr<IMessage> session;
    EXPECT_EQ(open_socket_session(server.resource(), timeout, &session), S_OK);
    return session;
}

std::string failure_text(const std::wstring& failure, SAFEARRAY* bytes)
{
    EXPECT_EQ(bytes, nullptr);
    return std::string(failure.begin(), failure.end());
}

// What Read(count) gives: the bytes and the status, or the failure.
std::string read(IMessage* session, LONG count)
{
    SAFEARRAY* bytes = nullptr;
    const HRESULT hr = session->Read(count, &bytes);
    if (FAILED(hr))
        return failure_text(outcome(hr), bytes);
    LONG status = 0;
    session->get_LastStatus(&status);
    std::string text(static_cast<const char*>(bytes->pvData), bytes->rgsabound[0].cElements);
    SafeArrayDestroy(bytes);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, " %lx", static_cast<unsigned long>(status));
    return text + suffix;
}

TEST(SocketResource, NamesOfTheSupportedForm)
{
    const struct {
        const wchar_t* name;
        const char* host; // null: refused
        const char* port = "";
    } rows[] = {
        {L"TCPIP::192.168.0.7::5025::SOCKET", "192.168.0.7", "5025"},
        {L"tcpip3::scope.lab::5025::socket", "scope.lab", "5025"},
        {L"TCPIP0::[::1]::65535::SOCKET", "::1", "65535"},
        {L"TCPIP::host::0::SOCKET", nullptr},
        {L"TCPIP::host::65536::SOCKET", nullptr},
        {L"TCPIP::host::50x::SOCKET", nullptr},
        {L"TCPIP::host::5025::INSTR", nullptr},
        {L"TCPIPx::host::5025::SOCKET", nullptr},
        {L"GPIB0::7::INSTR", nullptr},
        {L"TCPIP::::5025::SOCKET", nullptr},
        {L"TCPIP::a::b::5025::SOCKET", nullptr},
    };
    for (const auto& row : rows) {
        const auto parsed = parse_socket_resource(row.name);
        ASSERT_EQ(parsed.has_value(), row.host != nullptr) << std::string(row.name, row.name + wcslen(row.name));
        if (parsed) {
            EXPECT_EQ(parsed->host, row.host);
            EXPECT_EQ(parsed->port, row.port);
        }
    }
    ComPtr<IMessage> session;
    EXPECT_EQ(outcome(open_socket_session(L"USB0::1::2::3::INSTR", 100, &session)),
              error_line(invalid_resource, L"The resource name \"USB0::1::2::3::INSTR\" is not supported; the supported "
                                           L"form is TCPIP[board]::host::port::SOCKET.",
                         L"Morvane TCP socket session", L"", 0, IID_IMessage));
}

TEST(SocketSession, RefusedConnection)
{
    std::wstring resource;
    {
        loopback_server closed([](SOCKET) {});
        resource = closed.resource();
        ComPtr<IMessage> session;
        open_socket_session(resource, 2000, &session); // the server accepts once and goes away
    }
    ComPtr<IMessage> session;
    EXPECT_EQ(open_socket_session(resource, 2000, &session), resource_not_found);
    EXPECT_EQ(session, nullptr);
}

// A line feed ends a read, also as the count-th byte; bytes behind it stay; a read without
// it ends at the count; bytes that arrived before a timeout stay for the next read.
TEST(SocketSession, ReadsEndAtLineFeedsAndCounts)
{
    loopback_server server([](SOCKET client) {
        send_text(client, "abc\ndef1234\nxy");
        pause_ms(600);
        send_text(client, "z\n");
        pause_ms(300);
    });
    ComPtr<IMessage> session = open(server);
    EXPECT_EQ(session->put_Timeout(300), S_OK);
    EXPECT_EQ(read(session.Get(), 2), "ab 40006");
    EXPECT_EQ(read(session.Get(), 10), "c\n 40005");
    EXPECT_EQ(read(session.Get(), 3), "def 40006");
    EXPECT_EQ(read(session.Get(), 5), "1234\n 40005");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(session.Get(), 10).substr(0, 11), std::to_string(timeout_expired).substr(0, 11));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::milliseconds(2500));
    EXPECT_EQ(session->put_Timeout(2000), S_OK);
    EXPECT_EQ(read(session.Get(), 10), "xyz\n 40005");
}

// A connection closed in the middle of a response fails the read, and every call after it.
TEST(SocketSession, LostConnection)
{
    loopback_server server([](SOCKET client) {
        send_text(client, "partial");
        shutdown(client, SD_SEND);
        pause_ms(200);
    });
    ComPtr<IMessage> session = open(server);
    const std::string lost = std::to_string(connection_lost);
    EXPECT_EQ(read(session.Get(), 100).substr(0, lost.size()), lost);
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 1);
    LONG written = -1;
    EXPECT_EQ(session->Write(&bytes, 1, &written), connection_lost);
    EXPECT_EQ(written, 0);
    SafeArrayDestroy(bytes);
}

// The component over a socket: a query, a list, and a block whose data holds line feeds,
// which only a read with the termination character off takes whole.
TEST(SocketSession, CarriesTheComponentsExchanges)
{
    std::string received;
    loopback_server server([&received](SOCKET client) {
        received = receive_line(client);
        send_text(client, "1.5,2,3\n");
        received += receive_line(client);
        send_text(client, std::string("#16a\nb\0\r\n\n", 10));
        pause_ms(200);
    });
    ComPtr<IMessage> session = open(server);
    const ComPtr<IFormattedIO488> io = make_fmtdio();
    ASSERT_EQ(io->putref_IO(session.Get()), S_OK);
    unique_variant list, block;
    ASSERT_EQ(io->WriteString(bstr(L"DATA?").get(), VARIANT_TRUE), S_OK);
    ASSERT_EQ(io->ReadList(NumberType_R8, nullptr, list.get()), S_OK);
    ASSERT_EQ(io->WriteString(bstr(L"WAV?").get(), VARIANT_TRUE), S_OK);
    ASSERT_EQ(io->ReadIEEEBlock(NumberType_UI1, VARIANT_FALSE, VARIANT_TRUE, block.get()), S_OK);
    EXPECT_EQ(received, "DATA?\nWAV?\n");
    const auto* values = static_cast<const double*>(V_ARRAY(list.get())->pvData);
    EXPECT_EQ(std::vector<double>(values, values + V_ARRAY(list.get())->rgsabound[0].cElements),
              (std::vector<double>{1.5, 2, 3}));
    const auto* bytes = static_cast<const char*>(V_ARRAY(block.get())->pvData);
    EXPECT_EQ(std::string(bytes, V_ARRAY(block.get())->rgsabound[0].cElements), std::string("a\nb\0\r\n", 6));
    VARIANT_BOOL termination = VARIANT_FALSE;
    session->get_TerminationCharacterEnabled(&termination);
    EXPECT_EQ(termination, VARIANT_TRUE);
}

} // namespace
} // namespace morvane::testing
