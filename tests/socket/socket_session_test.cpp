// The TCP socket session against a server on the loopback address that the test runs itself.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <gtest/gtest.h>
#include <chrono>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>
#include <morvane_sessions.h>
#include "com/com_object.hpp"
#include "socket/socket_session.hpp"
#include "stream_session.hpp"
#include "transport/tcp_listener.hpp"
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using namespace socket_session;
using namespace transport;
using Microsoft::WRL::ComPtr;

// Accepts one connection on 127.0.0.1 and runs `script` on it in a thread of its own.
class loopback_server {
public:
    explicit loopback_server(std::function<void(SOCKET)> script)
    {
        EXPECT_TRUE(m_listener);
        m_thread = std::jthread([this, script] {
            if (const unique_socket client = m_listener.accept())
                script(client.get());
        });
    }
    ~loopback_server() { m_listener.stop(); } // ends an accept that no one will answer, before the join
    ComPtr<IMessage> open() const
    {
        ComPtr<IMessage> session;
        EXPECT_EQ(open_socket_session({"127.0.0.1", std::to_string(m_listener.port())}, L"", 2000, &session), S_OK);
        return session;
    }

private:
    const winsock_use m_winsock;
    tcp_listener m_listener;
    std::jthread m_thread;
};

void send_text(SOCKET to, std::string_view text) { send(to, text.data(), static_cast<int>(text.size()), 0); }

// A server's timeline: bytes, "|" a pause of 100 ms, "!" a reset instead of the clean close at the end.
std::function<void(SOCKET)> play(std::string script)
{
    return [script](SOCKET client) {
        std::string run;
        for (const char c : script) {
            if (c != '|' && c != '!') {
                run += c;
                continue;
            }
            send_text(client, std::exchange(run, ""));
            const linger reset{1, 0};
            if (c == '!')
                setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        send_text(client, run);
    };
}

// What Read(count) gives, bytes and status, or Write of one byte (count -1); a failure shows its HRESULT first.
std::string call(IMessage* session, LONG count)
{
    SAFEARRAY* bytes = count < 0 ? SafeArrayCreateVector(VT_UI1, 0, 1) : nullptr;
    LONG written = -1, status = -1;
    const HRESULT hr = count < 0 ? session->Write(&bytes, 1, &written) : session->Read(count, &bytes);
    session->get_LastStatus(&status);
    const std::string shown =
        count < 0 ? "wrote " + std::to_string(written)
        : bytes
            ? std::string(static_cast<const char*>(bytes->pvData), bytes->rgsabound[0].cElements) + " " + hex(status)
            : "no array";
    SafeArrayDestroy(bytes);
    return FAILED(hr) ? hex(hr) + " " + shown : shown;
}

// A line feed ends a read, also as the count-th byte; bytes stay across a timeout; a response that keeps
// arriving is read whole; what arrived before a close is read first, then every call fails at once.
TEST(SocketSession, ReadsAgainstTimelines)
{
    constexpr LONG brief = 400, patient = 3000;
    const std::string timed_out = hex(session_timeout) + " no array", lost = hex(connection_lost) + " no array";
    const struct {
        const char* server;
        std::vector<std::tuple<LONG, LONG, std::string>> steps; // timeout, count (-1: write), result
    } rows[] = {
        // clang-format off
        {"abc\ndef1234\nxy||||||||z\n",
         {{brief, 2, "ab 40006"}, {brief, 10, "c\n 40005"}, {brief, 3, "def 40006"}, {brief, 5, "1234\n 40005"},
          {brief, 10, timed_out}, {patient, 10, "xyz\n 40005"}}},
        {"0|1|2|3|4|5|6|7|8|9|\n", {{brief, 20, "0123456789\n 40005"}, {brief, 20, lost}}},
        {"abc\ndef", {{patient, 9, "abc\n 40005"}, {patient, 9, "def 0"}, {patient, 9, lost},
                       {patient, -1, hex(connection_lost) + " wrote 0"}, {patient, 0, lost}}},
        // clang-format on
        {"|!", {{patient, 9, lost}, {patient, 9, lost}, {patient, -1, hex(connection_lost) + " wrote 0"}}},
    };
    for (const auto& row : rows) {
        loopback_server server(play(row.server));
        ComPtr<IMessage> session = server.open();
        for (const auto& [timeout, count, result] : row.steps) {
            EXPECT_EQ(session->put_Timeout(timeout), S_OK);
            EXPECT_EQ(call(session.Get(), count), result) << row.server;
        }
    }
}

// Every non-zero value turns a flag on and reads back as -1; only the termination character changes what a
// read takes. Without it, the close ends the message.
TEST(SocketSession, FlagsTakeEveryNonZeroValueAsTrue)
{
    loopback_server server(play("1\n2\n3\n4\n5\n6\n|"));
    ComPtr<IMessage> session = server.open();
    const std::pair<VARIANT_BOOL, const char*> rows[] = {
        {VARIANT_TRUE, "1\n 40005"}, {1, "2\n 40005"}, {0x7FFF, "3\n 40005"}, {VARIANT_FALSE, "4\n5\n 40006"}};
    for (const auto& [given, result] : rows) {
        VARIANT_BOOL send_end = 2, termination = 2; // neither value until read
        EXPECT_EQ(session->put_SendEndEnabled(given) | session->put_TerminationCharacterEnabled(given), S_OK);
        EXPECT_EQ(session->get_SendEndEnabled(&send_end) | session->get_TerminationCharacterEnabled(&termination),
                  S_OK);
        const VARIANT_BOOL expected = given ? VARIANT_TRUE : VARIANT_FALSE;
        EXPECT_EQ(std::pair(send_end, termination), std::pair(expected, expected)) << given;
        EXPECT_EQ(call(session.Get(), 4), result) << given;
    }
    EXPECT_EQ(call(session.Get(), 9), "6\n 0"); // then lost: ReadsAgainstTimelines
}

// A peer whose bytes are always there already, for 3 s: a loopback server that stalls cannot promise that.
struct endless_stream : stream::byte_stream {
    const stream::deadline gone = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    void send_all(const unsigned char*, std::size_t, stream::deadline) override {}
    std::size_t receive_into(std::span<unsigned char> to, stream::deadline) override
    {
        if (std::chrono::steady_clock::now() > gone)
            throw stream::failure{stream::failure::lost, L"gone"};
        std::fill(to.begin(), to.end(), 'x');
        return to.size();
    }
};
struct endless_session : stream_session<endless_session> {
    static constexpr const wchar_t *error_source = L"endless", *negative_timeout = L"", *no_requests = L"";
    endless_session() : stream_session(std::make_unique<endless_stream>(), L"", 300) {}
};

// A message of MaximumMessageSize passes, counted across reads and afresh after a line feed; a longer one
// fails the read past it and its rest is dropped up to its line feed, or, never ending, for the timeout.
TEST(SocketSession, DropAMessagePastItsMaximumSize)
{
    loopback_server server(play("abcde\n0123456|789\nxy\nuvw\nrs\n"));
    ComPtr<IMessage> session = server.open(), streaming = com_object<endless_session>::make<IMessage>();
    ComPtr<IMorvaneSessionLimits> limits, streaming_limits;
    ASSERT_EQ(session.As(&limits) | streaming.As(&streaming_limits), S_OK);
    EXPECT_EQ(limits->put_MaximumMessageSize(6) | streaming_limits->put_MaximumMessageSize(1 << 20), S_OK);
    // clang-format off
    const std::pair<LONG, std::string> reads[] = {
        {3, "abc 40006"}, {10, "de\n 40005"}, {4, "0123 40006"}, {4, hex(message_too_long) + " no array"}, {10, "xy\n 40005"}};
    // clang-format on
    for (const auto& [count, result] : reads)
        EXPECT_EQ(call(session.Get(), count), result) << count;
    EXPECT_EQ(session->put_TerminationCharacterEnabled(VARIANT_FALSE), S_OK);
    const std::string first = call(session.Get(), 4);
    EXPECT_EQ(first + call(session.Get(), 3), "uvw\n 40006rs\n 40006") << "a line feed ends a message";
    EXPECT_EQ(call(streaming.Get(), 1 << 21), hex(message_too_long) + " no array");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(call(streaming.Get(), 10), hex(session_timeout) + " no array");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
}

} // namespace
} // namespace morvane::testing
