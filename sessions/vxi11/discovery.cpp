#include "vxi11/discovery.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <algorithm>
#include <memory>
#include <set>
#include "oncrpc/portmapper.hpp"
#include "oncrpc/rpc_message.hpp"
#include "transport/winsock.hpp"
#include "vxi11/vxi11_numbers.hpp"

namespace morvane::vxi11 {
namespace {

using namespace oncrpc;
using std::chrono::steady_clock;

std::string text_of(const in_addr& address)
{
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace

std::vector<std::string> local_broadcast_addresses()
{
    ULONG size = 16 << 10;
    std::unique_ptr<unsigned char[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<unsigned char[]>(size);
        constexpr ULONG addresses_only = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
        result = GetAdaptersAddresses(AF_INET, addresses_only, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    std::vector<std::string> found;
    if (result != NO_ERROR)
        return found;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr);
            const ULONG prefix = unicast->OnLinkPrefixLength;
            if (address->sin_family != AF_INET || prefix == 0 || prefix >= 31)
                continue;
            in_addr broadcast = address->sin_addr;
            broadcast.s_addr |= htonl(0xFFFF'FFFFu >> prefix);
            found.push_back(text_of(broadcast));
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

std::vector<std::string> discover_instruments(const std::vector<std::string>& targets, unsigned short portmapper_port,
                                              std::chrono::milliseconds timeout, bool broadcast)
{
    static const transport::winsock_use started;
    std::set<std::string> answered;
    const transport::unique_socket udp(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (started.error() != 0 || !udp)
        return {};
    // Without the permission a broadcast cannot be sent, and nothing can be found by one.
    BOOL on = TRUE;
    if (broadcast &&
        setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        return {};
    const auto xid = static_cast<std::uint32_t>(steady_clock::now().time_since_epoch().count());
    xdr_writer call;
    put_call(call, call_header{xid, rpc::version, portmapper::program, portmapper::version, portmapper::getport});
    encode(call, mapping{core::program, core::version, portmapper::tcp, 0});
    std::set<std::string> asked;
    for (const std::string& target : targets) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(target.c_str(), std::to_string(portmapper_port).c_str(), &hints, &found) != 0)
            continue;
        const transport::unique_address_list owned(found);
        const auto message = call.message();
        sendto(udp.get(), reinterpret_cast<const char*>(message.data()), static_cast<int>(message.size()), 0,
               found->ai_addr, static_cast<int>(found->ai_addrlen));
        asked.insert(text_of(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr));
    }
    const auto until = steady_clock::now() + timeout;
    // Addresses asked one by one are done when each answered; a broadcast waits the whole time.
    std::set<std::string> replied;
    while ((broadcast || replied.size() < asked.size()) && steady_clock::now() < until) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - steady_clock::now());
        timeval wait{static_cast<long>(left.count() / 1000000), static_cast<long>(left.count() % 1000000)};
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(udp.get(), &readable);
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            break;
        unsigned char reply[512];
        sockaddr_in from{};
        int from_size = sizeof from;
        const int got = recvfrom(udp.get(), reinterpret_cast<char*>(reply), sizeof reply, 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_size);
        if (got <= 0)
            continue; // an ICMP refusal from a host without a portmapper, on some systems
        try {
            xdr_reader in(std::span<const unsigned char>(reply, static_cast<std::size_t>(got)));
            const bool accepted = get_accepted_reply(in, xid) == rpc::success;
            replied.insert(text_of(from.sin_addr));
            getport_result result;
            if (accepted)
                decode(in, result);
            if (result.port != 0)
                answered.insert(text_of(from.sin_addr));
        } catch (const xdr_error&) {
            // Not an answer to this call.
        }
    }
    return {answered.begin(), answered.end()};
}

} // namespace morvane::vxi11
