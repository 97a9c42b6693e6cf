#include "vxi11/interrupt_channel.hpp"

#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include "oncrpc/record_receiver.hpp"
#include "oncrpc/rpc_message.hpp"
#include "oncrpc/rpc_numbers.hpp"
#include "vxi11/core_messages.hpp"

namespace morvane::vxi11 {
namespace {

using oncrpc::xdr_error;
using transport::unique_socket;

// How long the thread waits before it looks at its stop flag again.
constexpr long tick_us = 20000;

struct device_connection {
    unique_socket socket;
    oncrpc::record_receiver records{interrupt_channel::record_limit, interrupt_channel::record_limit};
};

} // namespace

interrupt_channel::interrupt_channel(const std::string& address, std::vector<unsigned char> handle,
                                     std::function<void()> requested)
    : m_listener(address, 0, static_cast<int>(max_devices)), m_handle(std::move(handle)),
      m_requested(std::move(requested))
{
    if (m_listener)
        m_thread = std::thread([this] { serve(); });
}

interrupt_channel::~interrupt_channel()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool interrupt_channel::take(const std::vector<unsigned char>& record) const
{
    try {
        oncrpc::xdr_reader in(record);
        const oncrpc::call_header call = oncrpc::get_call(in);
        if (call.rpc_version != oncrpc::rpc::version || call.program != interrupt::program ||
            call.version != interrupt::version || call.procedure != interrupt::device_intr_srq)
            return true;
        device_srq_args args;
        decode(in, args);
        if (std::ranges::equal(args.handle, m_handle))
            m_requested();
        return true;
    } catch (const xdr_error&) {
        return false;
    }
}

void interrupt_channel::serve()
{
    std::deque<std::unique_ptr<device_connection>> devices; // the oldest first
    std::array<unsigned char, 4096> chunk;
    while (!m_stopping) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_listener.handle(), &readable);
        for (const auto& device : devices)
            FD_SET(device->socket.get(), &readable);
        timeval wait{0, tick_us};
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR)
            return; // the listener itself failed: no request can come any more
        if (ready == 0)
            continue;
        if (FD_ISSET(m_listener.handle(), &readable)) {
            if (unique_socket accepted(::accept(m_listener.handle(), nullptr, nullptr)); accepted) {
                if (devices.size() == max_devices)
                    devices.pop_front();
                devices.push_back(std::make_unique<device_connection>(device_connection{std::move(accepted)}));
            }
        }
        std::erase_if(devices, [&](const std::unique_ptr<device_connection>& device) {
            if (!FD_ISSET(device->socket.get(), &readable))
                return false;
            const int got =
                recv(device->socket.get(), reinterpret_cast<char*>(chunk.data()), static_cast<int>(chunk.size()), 0);
            if (got <= 0)
                return true;
            try {
                for (std::span<const unsigned char> bytes(chunk.data(), static_cast<std::size_t>(got));
                     !bytes.empty();) {
                    bytes = bytes.subspan(device->records.feed(bytes));
                    if (device->records.complete() && !take(device->records.take()))
                        return true;
                }
            } catch (const xdr_error&) {
                return true; // a record past the limit: the stream cannot be followed past it
            }
            return false;
        });
    }
}

} // namespace morvane::vxi11
