#pragma once
// A VXI-11 core channel that answers as a test says and records what it was sent; one connection at a time.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include "transport/tcp_listener.hpp"
#include "oncrpc/record_receiver.hpp"
#include "oncrpc/rpc_message.hpp"

namespace morvane::testing {

// The next record from `client`; none once it closed or, given `wait_ms`, sent nothing for as long.
inline std::optional<std::vector<unsigned char>> next_record(SOCKET client, DWORD wait_ms = 0)
{
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait_ms), sizeof wait_ms);
    oncrpc::record_receiver records(1 << 20);
    while (!records.complete()) {
        const auto space = records.space();
        const int got = recv(client, reinterpret_cast<char*>(space.data()), static_cast<int>(space.size()), 0);
        if (got <= 0)
            return std::nullopt;
        records.received(static_cast<std::size_t>(got));
    }
    return records.take();
}

class scripted_core {
public:
    struct read_reply {
        std::int32_t error, reason;
        std::string data;
    };
    struct call {
        std::uint32_t procedure;
        std::vector<std::uint32_t> fields; // the arguments before the opaque or string, if any
        std::string data;                  // the opaque or string
    };

    std::atomic<std::int32_t> error{0};       // of every result after create_link's
    std::size_t take_at_most = SIZE_MAX;      // of a device_write
    std::atomic<bool> silent{false};          // device_read gets no reply
    std::deque<read_reply> reads;             // device_read replies; none left: error 15
    std::atomic<bool> empty_when_done{false}; // none left: no data and no reason instead
    std::string endless;                      // none left, before the above: as much of it as asked, with no reason

    // Sends a reply record in place of the plain send; false closes the connection.
    using reply_sender = std::function<bool(SOCKET, std::vector<unsigned char>)>;

    explicit scripted_core(const std::string& address = "127.0.0.1", reply_sender send_reply = {})
        : m_send(std::move(send_reply)), m_listener(address), m_thread([this] { serve(); })
    {}
    ~scripted_core() { m_done = true, m_listener.stop(), m_thread.join(); }
    unsigned short port() const { return m_listener.port(); }
    std::vector<call> calls()
    {
        const std::lock_guard guard(m_lock);
        return m_calls;
    }
    std::vector<std::uint32_t> procedures()
    {
        std::vector<std::uint32_t> called;
        for (const call& c : calls())
            called.push_back(c.procedure);
        return called;
    }

private:
    void serve()
    {
        while (!m_done)
            if (const auto client = m_listener.accept(std::chrono::milliseconds(20)))
                while (const auto record = next_record(client.get())) {
                    oncrpc::xdr_writer out = answer(*record);
                    if (out.size() <= 4) // silent
                        continue;
                    const auto bytes = out.record();
                    if (!m_send)
                        send(client.get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
                             0);
                    else if (!m_send(client.get(), {bytes.begin(), bytes.end()}))
                        break;
                }
    }

    oncrpc::xdr_writer answer(const std::vector<unsigned char>& record)
    {
        oncrpc::xdr_reader in(record);
        const oncrpc::call_header header = oncrpc::get_call(in);
        // The fields of procedures 10 to 26, then their data; other procedures: one field.
        static constexpr std::size_t field_count[] = {3, 4, 6, 4, 4, 4, 1, 1, 1, 1, 2, 1, 1, 1, 1, 5, 0};
        call got{header.procedure, {}, {}};
        const std::size_t fields =
            header.procedure >= 10 && header.procedure <= 26 ? field_count[header.procedure - 10] : 1;
        for (std::size_t i = 0; i < fields && in.left() >= 4; ++i)
            got.fields.push_back(in.get());
        if (in.left() >= 4 && header.procedure != 25)
            got.data = in.get_string(1 << 20);
        {
            const std::lock_guard guard(m_lock);
            m_calls.push_back(got);
        }
        oncrpc::xdr_writer out;
        if (header.procedure == 12 && silent)
            return out;
        oncrpc::put_accepted_reply(out, header.xid, 0);
        switch (header.procedure) {
        case 10:                                                  // create_link
            for (const std::uint32_t field : {0u, 7u, 0u, 1024u}) // no error, link 7, abort port, maxRecvSize
                out.put(field);
            break;
        case 11: // device_write
            out.put_signed(error);
            out.put(static_cast<std::uint32_t>(std::min(got.data.size(), take_at_most)));
            break;
        case 12: { // device_read
            const read_reply next = !reads.empty()     ? reads.front()
                                    : !endless.empty() ? read_reply{0, 0, endless.substr(0, got.fields.at(1))}
                                                       : read_reply{empty_when_done ? 0 : 15, 0, ""};
            if (!reads.empty())
                reads.pop_front();
            out.put_signed(error ? error.load() : next.error);
            out.put_signed(next.reason);
            out.put_string(next.data);
            break;
        }
        case 13: // device_readstb
            out.put_signed(error);
            out.put(0x42);
            break;
        default: out.put_signed(error);
        }
        return out;
    }

    const reply_sender m_send;
    transport::tcp_listener m_listener;
    std::mutex m_lock;
    std::vector<call> m_calls;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace morvane::testing
