#include "connection.hpp"

#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include "transport/client_socket.hpp"
#include "transport/socket_wait.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "sim/message_end.hpp"
#include "sim/simulated_session.hpp"

namespace morvane::instrument_server {
namespace {

using transport::prepare_client;
using transport::receive_from_client;

class responder {
public:
    responder(SOCKET client, const server_options& options) : m_client(client), m_options(options) {}

    // Sends response bytes as the fault options say; false once the connection is to close.
    bool send_response(const unsigned char* bytes, std::size_t count)
    {
        if (m_options.delay_ms && !m_delayed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_options.delay_ms));
            m_delayed = true;
        }
        while (count > 0) {
            std::size_t piece = m_options.segment ? std::min(count, m_options.segment) : count;
            if (m_options.drop_after)
                piece = std::min(piece, m_options.drop_after - m_sent);
            if (piece > 0 && !send_all(bytes, piece))
                return false;
            bytes += piece;
            count -= piece;
            m_sent += piece;
            if (m_options.drop_after && m_sent >= m_options.drop_after) {
                shutdown(m_client, SD_SEND); // a clean close, in the middle of the response
                return false;
            }
            if (m_options.segment && count > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1)); // pieces arrive apart
        }
        return true;
    }
    void end_response() { m_delayed = false; }

private:
    bool send_all(const unsigned char* bytes, std::size_t count)
    {
        while (count > 0) {
            const int n = send(m_client, reinterpret_cast<const char*>(bytes),
                               static_cast<int>(std::min<std::size_t>(count, 1 << 20)), 0);
            if (n <= 0)
                return false;
            bytes += n;
            count -= static_cast<std::size_t>(n);
        }
        return true;
    }

    SOCKET m_client;
    const server_options& m_options;
    std::size_t m_sent = 0;
    bool m_delayed = false;
};

// Sends back what the session answered to the message that just ended. An answer held until an
// acquisition ends goes when it is ready, unless the client sends again first: its next message
// drops the answer, as an instrument's does.
bool relay(IMessage& session, responder& out, SOCKET client)
{
    while (sim::response_held(&session))
        if (transport::wait_for_socket(client, false, std::chrono::milliseconds(20)) !=
            transport::socket_state::time_passed)
            return true;
    bool open = true;
    // Reads of 64 KiB: their arrays come from heap memory used again and again, where arrays
    // of a megabyte are fresh pages, slow to touch, every time.
    while (open && sim::response_ready(&session)) {
        unique_safearray chunk;
        if (FAILED(session.Read(64 << 10, chunk.put())) || !chunk)
            break;
        LONG status = morvane::session::status_end;
        session.get_LastStatus(&status);
        open = out.send_response(static_cast<const unsigned char*>(chunk->pvData), chunk->rgsabound[0].cElements);
        if (status == morvane::session::status_end)
            break;
    }
    out.end_response();
    return open;
}

} // namespace

bool write_to_instrument(IMessage& session, std::string_view bytes, bool end)
{
    unique_safearray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
    if (!array)
        return false;
    std::copy(bytes.begin(), bytes.end(), static_cast<char*>(array->pvData));
    LONG written = 0;
    SAFEARRAY* given = array.get(); // [in]: the session reads it and leaves it ours
    return SUCCEEDED(session.put_SendEndEnabled(end ? VARIANT_TRUE : VARIANT_FALSE)) &&
           SUCCEEDED(session.Write(&given, static_cast<LONG>(bytes.size()), &written));
}

void serve_connection(SOCKET client, const server_options& options, std::shared_ptr<sim::memory_budget> budget)
{
    prepare_client(client, options.idle_seconds);
    const Microsoft::WRL::ComPtr<IMessage> session =
        sim::create_simulated_session(options.seed, L"SIM", sim::default_timeout_ms, std::move(budget));
    // Responses are relayed whole, up to END: a line feed inside a block must not cut them
    // into reads of a few hundred bytes, each a send of its own.
    if (session)
        session->put_TerminationCharacterEnabled(VARIANT_FALSE);
    responder out(client, options);
    // A raw socket has no END: its line feeds stand for it, also after an indefinite block. The
    // bytes go to the instrument as they come, so that the instrument bounds a message's length.
    sim::message_end end(true);
    std::string buffer(64 * 1024, '\0');
    bool open = session != nullptr;
    while (open) {
        const std::size_t n = receive_from_client(client, buffer.data(), buffer.size(), options.idle_seconds);
        if (n == 0)
            break;
        for (std::string_view bytes(buffer.data(), n); open && !bytes.empty();) {
            const std::size_t length = end.find(bytes);
            open = write_to_instrument(*session.Get(), bytes.substr(0, length), length != std::string_view::npos);
            if (length == std::string_view::npos)
                break;
            bytes.remove_prefix(length);
            open = open && relay(*session.Get(), out, client);
        }
    }
    closesocket(client);
}

} // namespace morvane::instrument_server
