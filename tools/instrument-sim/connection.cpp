#include "connection.hpp"

#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include "message_framer.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "sim/simulated_session.hpp"

namespace morvane::instrument_server {
namespace {

class responder {
public:
    responder(SOCKET client, const server_options& options) : client_(client), options_(options) {}

    // Sends response bytes as the fault options say; false once the connection is to close.
    bool send_response(const unsigned char* bytes, std::size_t count)
    {
        if (options_.delay_ms && !delayed_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.delay_ms));
            delayed_ = true;
        }
        while (count > 0) {
            std::size_t piece = options_.segment ? std::min(count, options_.segment) : count;
            if (options_.drop_after)
                piece = std::min(piece, options_.drop_after - sent_);
            if (piece > 0 && !send_all(bytes, piece))
                return false;
            bytes += piece;
            count -= piece;
            sent_ += piece;
            if (options_.drop_after && sent_ >= options_.drop_after) {
                shutdown(client_, SD_SEND); // a clean close, in the middle of the response
                return false;
            }
            if (options_.segment && count > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1)); // pieces arrive apart
        }
        return true;
    }
    void end_response() { delayed_ = false; }

private:
    bool send_all(const unsigned char* bytes, std::size_t count)
    {
        while (count > 0) {
            const int n = send(client_, reinterpret_cast<const char*>(bytes), static_cast<int>(std::min<std::size_t>(count, 1 << 20)), 0);
            if (n <= 0)
                return false;
            bytes += n;
            count -= static_cast<std::size_t>(n);
        }
        return true;
    }

    SOCKET client_;
    const server_options& options_;
    std::size_t sent_ = 0;
    bool delayed_ = false;
};

// Hands one message to the session with END and sends back what it answers.
bool execute(IMessage& session, const std::string& message, responder& out)
{
    unique_safearray bytes(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(message.size())));
    if (!bytes)
        return false;
    std::copy(message.begin(), message.end(), static_cast<char*>(bytes->pvData));
    LONG written = 0;
    SAFEARRAY* given = bytes.get(); // [in]: the session reads it and leaves it ours
    session.Write(&given, static_cast<LONG>(message.size()), &written);
    bytes.reset();
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

void serve_connection(SOCKET client, const server_options& options)
{
    BOOL no_delay = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
    const Microsoft::WRL::ComPtr<IMessage> session = sim::create_simulated_session(options.seed);
    // Responses are relayed whole, up to END: a line feed inside a block must not cut them
    // into reads of a few hundred bytes, each a send of its own.
    if (session)
        session->put_TerminationCharacterEnabled(VARIANT_FALSE);
    responder out(client, options);
    message_framer framer;
    char chunk[64 * 1024];
    bool open = session != nullptr;
    for (int n; open && (n = recv(client, chunk, sizeof chunk, 0)) > 0;) {
        for (int i = 0; open && i < n; ++i) {
            if (framer.take(chunk[i])) {
                open = execute(*session.Get(), framer.message(), out);
                framer.clear();
            }
        }
    }
    closesocket(client);
}

} // namespace morvane::instrument_server
