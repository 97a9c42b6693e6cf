#include "hislip_sync_channel.hpp"

#include <oleauto.h>
#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>
#include "connection.hpp"
#include "lock_table.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "sim/message_end.hpp"
#include "sim/simulated_session.hpp"

namespace morvane::instrument_server {
namespace {

using hislip::header;
using hislip::message_type;
namespace error = hislip::error;

// Data go to the instrument, and responses come from it, in pieces of at most this much: a
// message of any length costs this buffer.
constexpr std::size_t piece_size = 64 << 10;
constexpr std::size_t message_size = 1 << 20; // the most payload of one Data message sent

bool is_new_message(message_type type)
{
    return type == message_type::data || type == message_type::data_end || type == message_type::trigger;
}

class sync_server {
public:
    sync_server(hislip_channel& channel, hislip_session& session, const server_options& options)
        : m_channel(channel), m_session(session), m_options(options), m_overlapped(options.overlapped),
          m_buffer(piece_size)
    {}

    void serve()
    {
        while (!m_session.ended) {
            std::optional<header> next = std::exchange(m_pending, std::nullopt);
            if (!next)
                next = m_channel.next();
            if (!next || !message(*next))
                return;
        }
    }

private:
    // False once the connection is to close.
    bool message(const header& message)
    {
        const message_type type = message.type;
        const bool data = type == message_type::data || type == message_type::data_end;
        const bool known = data || type == message_type::trigger || type == message_type::device_clear_complete;
        if (!known)
            return m_channel.send(message_type::error, error::unrecognized_type, 0,
                                  "unrecognized message type on the synchronous channel");
        if (!data && message.length > control_payload_limit) {
            m_channel.fatal(hislip::fatal::poorly_formed_header, "a payload too long for its message");
            return false;
        }
        if (type == message_type::device_clear_complete) {
            m_session.own->Clear();
            m_session.last_taken = hislip::first_message_id - 2;
            m_end.reset();
            m_overlapped = (message.control & hislip::overlapped) && m_options.overlapped;
            return m_channel.send(message_type::device_clear_acknowledge, m_overlapped ? hislip::overlapped : 0, 0);
        }
        if (!m_session.async_attached()) {
            m_channel.fatal(hislip::fatal::channels_not_established, "the asynchronous channel is not established");
            return false;
        }
        if (data && message.length > server_maximum_message_size) // its payload is skipped as it comes
            return m_channel.send(message_type::error, error::message_too_large, 0,
                                  "a Data message larger than the maximum message size");
        // Another client's exclusive lock holds the message until it is released or this client goes.
        const bool access = server_locks().wait_for_access(m_session.id, std::nullopt, [this] {
            return m_session.ended || m_channel.closed_within(std::chrono::milliseconds(0));
        });
        if (!access)
            return false;
        if (type == message_type::trigger) {
            const bool triggered = SUCCEEDED(m_session.own->AssertTrigger());
            m_session.last_taken = message.parameter;
            return triggered;
        }
        return take_data(message);
    }

    // The payload goes to the instrument piece by piece; each message that ends in it, at a line
    // feed outside a block or at DataEND, is answered with the ID of this message.
    bool take_data(const header& message)
    {
        IMessage& instrument = *m_session.instrument.Get();
        // A message read while a response went out is the stream's next: this payload is all here.
        while (!m_pending && m_channel.payload_left() > 0) {
            const std::size_t got = m_channel.payload(m_buffer);
            if (got == 0)
                return false;
            for (std::string_view bytes(reinterpret_cast<const char*>(m_buffer.data()), got); !bytes.empty();) {
                const std::size_t length = m_end.find(bytes);
                if (!write_to_instrument(instrument, bytes.substr(0, length), false))
                    return false;
                if (length == std::string_view::npos)
                    break;
                bytes.remove_prefix(length);
                if (!respond(message.parameter))
                    return false;
            }
        }
        if (message.type != message_type::data_end) {
            m_session.last_taken = message.parameter;
            return true;
        }
        m_end.reset();
        const bool written = write_to_instrument(instrument, {}, true);
        m_session.last_taken = message.parameter;
        return written && respond(message.parameter);
    }

    bool respond(std::uint32_t id)
    {
        return await_held() && (!sim::response_ready(m_session.instrument.Get()) || relay(id));
    }

    // An answer that the instrument holds (*OPC? while an acquisition runs) is waited for, looked
    // at every 2 ms, until it is ready; false when the session ends first. A device clear, or a
    // new message from the client, ends the wait: the instrument then does with the answer what
    // it does with one left unread.
    bool await_held()
    {
        IMessage* instrument = m_session.instrument.Get();
        const unsigned clears = m_session.clears;
        while (sim::response_left(instrument) > 0 && !sim::response_ready(instrument)) {
            if (m_session.ended)
                return false;
            if (m_session.clears != clears || m_pending || m_channel.payload_left() > 0 || m_channel.readable_now())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // Sends the response as Data messages and a last DataEND, each no larger than the client
    // takes, nor than a megabyte (the session reads a message's payload straight into place, so
    // fewer headers are fewer trips through the platform); stops early for a device clear, or for
    // a new message in synchronized mode.
    bool relay(std::uint32_t id)
    {
        IMessage& instrument = *m_session.instrument.Get();
        const unsigned clears = m_session.clears;
        if (m_options.delay_ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_options.delay_ms));
        const std::uint64_t client_maximum = m_session.client_maximum;
        std::size_t budget = static_cast<std::size_t>(
            std::min<std::uint64_t>(message_size, client_maximum > hislip::header_size // counting the header is safe
                                                      ? client_maximum - hislip::header_size
                                                      : 1));
        if (m_options.segment)
            budget = std::min(budget, m_options.segment);
        for (bool first = true;; first = false) {
            if (m_session.ended)
                return false;
            if (m_session.clears != clears)
                return true;
            // A new message is looked for before each Data message, but not before the first of
            // a fast response: the look costs a round through the platform, and a client knows an
            // answer it left by its ID.
            const bool look = m_options.segment || !first;
            if (!m_overlapped && look && !m_pending && m_channel.payload_left() == 0 && m_channel.readable_now()) {
                m_pending = m_channel.next();
                if (!m_pending)
                    return false;
                if (is_new_message(m_pending->type))
                    return interrupt(m_pending->parameter);
            }
            if (m_options.segment && !first)
                std::this_thread::sleep_for(std::chrono::milliseconds(1)); // pieces arrive apart
            unique_safearray piece;
            if (!sim::response_ready(&instrument) ||
                FAILED(instrument.Read(static_cast<LONG>(std::min(budget, piece_size)), piece.put())) ||
                !piece) // cleared from the other channel meanwhile, or failed: the response ends here
                return m_session.clears != clears || send_message_part({id, 0, true}, {});
            std::size_t got = piece->rgsabound[0].cElements;
            const std::size_t whole = got + sim::response_left(&instrument);
            const std::size_t size = std::min(whole, budget);
            if (!send_message_part({id, size, size == whole}, bytes_of(piece)))
                return false;
            for (; got < size; got += piece->rgsabound[0].cElements) {
                piece.reset();
                // Cleared from the other channel meanwhile: the header promised these bytes, and
                // zeros stand in for them, which the client drops with the rest of the response.
                if (FAILED(instrument.Read(static_cast<LONG>(std::min(size - got, piece_size)), piece.put())) ||
                    !piece || piece->rgsabound[0].cElements == 0)
                    return send_response_bytes(std::vector<unsigned char>(size - got)) &&
                           (m_session.clears != clears || size == whole || send_message_part({id, 0, true}, {}));
                if (!send_response_bytes(bytes_of(piece)))
                    return false;
            }
            if (size == whole)
                return true;
        }
    }

    static std::span<const unsigned char> bytes_of(const unique_safearray& array)
    {
        return {static_cast<const unsigned char*>(array->pvData), array->rgsabound[0].cElements};
    }

    // Synchronized mode: a new message while a response goes out ends the response.
    bool interrupt(std::uint32_t id)
    {
        m_session.own->Clear();
        m_session.send_async(message_type::async_interrupted, 0, id);
        return m_channel.send(message_type::interrupted, 0, id);
    }

    struct data_header {
        std::uint32_t id;
        std::size_t size;
        bool last; // DataEND
    };

    // A Data message's header and the first bytes of its payload, in one call when it can.
    bool send_message_part(const data_header& data, std::span<const unsigned char> first)
    {
        const header message{data.last ? message_type::data_end : message_type::data, 0, data.id, data.size};
        if (m_options.drop_after)
            return send_bytes(m_channel.socket(), hislip::encode(message)) && send_response_bytes(first);
        m_sent += first.size();
        return send_message(m_channel.socket(), message, first);
    }

    // Payload bytes of the response, cut short by --drop-after with a clean close.
    bool send_response_bytes(std::span<const unsigned char> bytes)
    {
        if (m_options.drop_after && bytes.size() >= m_options.drop_after - m_sent) {
            send_bytes(m_channel.socket(), bytes.first(m_options.drop_after - m_sent));
            shutdown(m_channel.socket(), SD_SEND);
            return false;
        }
        m_sent += bytes.size();
        return send_bytes(m_channel.socket(), bytes);
    }

    hislip_channel& m_channel;
    hislip_session& m_session;
    const server_options& m_options;
    bool m_overlapped;               // the mode in force
    sim::message_end m_end;          // END is DataEND: line feeds end messages outside blocks only
    std::optional<header> m_pending; // read while a response went out, served next
    std::vector<unsigned char> m_buffer;
    std::size_t m_sent = 0; // response bytes, for --drop-after
};

} // namespace

void serve_sync_channel(hislip_channel& channel, hislip_session& session, const server_options& options)
{
    sync_server(channel, session, options).serve();
}

} // namespace morvane::instrument_server
