// Through the loopback socket: query round trips and a 100 MiB block, each beside a bare
// Winsock client doing the same sends and receives into new memory.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <wrl/client.h>
#include "bare_client.hpp"
#include "measure.hpp"
#include "platform/bstr.hpp"
#include "platform/variant.hpp"
#include "socket/socket_session.hpp"
#include "transport/tcp_listener.hpp"

namespace {

using morvane::transport::tcp_listener;
using morvane::transport::unique_socket;
using morvane::transport::winsock_use;

constexpr std::size_t block_size = 100u << 20;

// Answers "*IDN?" with a line and "BLK?" with a block, on every connection, until it goes.
class loopback_instrument {
public:
    loopback_instrument()
        : m_block("#9" + std::to_string(block_size) + std::string(block_size, '\x5a') + "\n"),
          m_listener("127.0.0.1", 0, 4)
    {
        // Stopping the listener is what ends the thread.
        m_acceptor = std::thread([this] {
            for (unique_socket client; (client = m_listener.accept());)
                m_clients.emplace_back([this, owned = std::move(client)]() mutable { serve(std::move(owned)); });
        });
    }
    ~loopback_instrument()
    {
        m_listener.stop();
        m_acceptor.join();
        for (std::thread& client : m_clients)
            client.join();
    }
    unsigned short port() const { return m_listener.port(); }

private:
    void serve(const unique_socket owned)
    {
        const SOCKET client = owned.get();
        BOOL no_delay = TRUE;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
        std::string line;
        char chunk[256];
        for (int n; (n = recv(client, chunk, sizeof chunk, 0)) > 0;) {
            for (const char byte : std::string_view(chunk, static_cast<std::size_t>(n))) {
                if (byte != '\n') {
                    line += byte;
                    continue;
                }
                const std::string& answer = line == "BLK?" ? m_block : m_identity;
                for (std::size_t sent = 0; sent < answer.size();) {
                    const int count = send(client, answer.data() + sent, static_cast<int>(answer.size() - sent), 0);
                    if (count <= 0)
                        break;
                    sent += static_cast<std::size_t>(count);
                }
                line.clear();
            }
        }
    }

    const std::string m_identity = "Morvane,SIM-1,0,1.0\n";
    const std::string m_block;
    tcp_listener m_listener;
    std::thread m_acceptor;
    std::vector<std::thread> m_clients;
};

} // namespace

void bench_socket(IFormattedIO488* io)
{
    const winsock_use winsock;
    if (winsock.error() != 0)
        check(HRESULT_FROM_WIN32(static_cast<DWORD>(winsock.error())), "WSAStartup");
    loopback_instrument instrument;
    {
        Microsoft::WRL::ComPtr<IMessage> session;
        check(morvane::socket_session::open_socket_session({"127.0.0.1", std::to_string(instrument.port())}, L"", 10000,
                                                           &session),
              "open_socket_session");
        check(io->putref_IO(session.Get()), "IO");
    }

    constexpr int trips = 300;
    const morvane::unique_bstr query = morvane::make_bstr(L"*IDN?");
    const morvane::unique_bstr block_query = morvane::make_bstr(L"BLK?");
    // clang-format off
    const double component_trip = median_seconds(5, [&] {
        for (int i = 0; i < trips; ++i) {
            morvane::unique_bstr answer;
            check(io->WriteString(query.get(), VARIANT_TRUE), "WriteString");
            check(io->ReadString(answer.put()), "ReadString");
        }
    }) / trips;
    // clang-format on
    bare_client bare(instrument.port());
    const double bare_trip = median_seconds(5,
                                            [&] {
                                                char answer[64];
                                                for (int i = 0; i < trips; ++i) {
                                                    bare.send_line("*IDN?\n");
                                                    bare.receive(answer, sizeof answer, true);
                                                }
                                            }) /
                             trips;
    std::printf("%-44s %10.0f /s %10.0f /s %7.2f\n", "query round trips over TCP", 1 / component_trip, 1 / bare_trip,
                component_trip / bare_trip);

    const double component_block = median_seconds(5, [&] {
        check(io->WriteString(block_query.get(), VARIANT_TRUE), "WriteString");
        morvane::unique_variant result;
        check(io->ReadIEEEBlock(NumberType_UI1, VARIANT_FALSE, VARIANT_TRUE, result.get()), "ReadIEEEBlock");
    });
    const double bare_block = median_seconds(5, [&] {
        bare.send_line("BLK?\n");
        char header[11];
        bare.receive(header, sizeof header, false);
        auto bytes = std::make_unique_for_overwrite<char[]>(block_size + 1);
        bare.receive(bytes.get(), block_size + 1, false);
    });
    line("ReadIEEEBlock of 100 MiB over TCP", component_block, bare_block);
    check(io->putref_IO(nullptr), "IO");
}
