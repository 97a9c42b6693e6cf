#include "line_instrument.hpp"

#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <thread>
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "sim/simulated_session.hpp"

namespace morvane::instrument_server {

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

line_instrument::line_instrument(line_peer peer, const server_options& options,
                                 std::shared_ptr<sim::memory_budget> budget)
    : m_peer(std::move(peer)), m_options(options),
      m_session(sim::create_simulated_session(options.seed, L"SIM", sim::default_timeout_ms, std::move(budget)))
{
    // Responses are relayed whole, up to END: a line feed inside a block must not cut them
    // into reads of a few hundred bytes, each a send of its own.
    if (m_session)
        m_session->put_TerminationCharacterEnabled(VARIANT_FALSE);
}

bool line_instrument::take(std::string_view bytes)
{
    // The bytes go to the instrument as they come, so that the instrument bounds a message's length.
    while (!bytes.empty()) {
        const std::size_t length = m_end.find(bytes);
        if (!write_to_instrument(*m_session.Get(), bytes.substr(0, length), length != std::string_view::npos))
            return false;
        if (length == std::string_view::npos)
            break;
        bytes.remove_prefix(length);
        if (!relay())
            return false;
    }
    return true;
}

// Sends back what the session answered to the message that just ended. An answer held until an
// acquisition ends goes when it is ready, unless the peer sends again first: its next message
// drops the answer, as an instrument's does.
bool line_instrument::relay()
{
    IMessage& session = *m_session.Get();
    while (sim::response_held(&session))
        if (m_peer.sends_within(std::chrono::milliseconds(20)))
            return true;
    bool open = true;
    bool delayed = false;
    // Reads of 64 KiB: their arrays come from heap memory used again and again, where arrays
    // of a megabyte are fresh pages, slow to touch, every time.
    while (open && sim::response_ready(&session)) {
        unique_safearray chunk;
        if (FAILED(session.Read(64 << 10, chunk.put())) || !chunk)
            break;
        LONG status = session::status_end;
        session.get_LastStatus(&status);
        if (m_options.delay_ms && !delayed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_options.delay_ms));
            delayed = true;
        }
        open = send_response(static_cast<const unsigned char*>(chunk->pvData), chunk->rgsabound[0].cElements);
        if (status == session::status_end)
            break;
    }
    return open;
}

// Sends response bytes as the fault options say; false once the line is to close.
bool line_instrument::send_response(const unsigned char* bytes, std::size_t count)
{
    while (count > 0) {
        std::size_t piece = m_options.segment ? std::min(count, m_options.segment) : count;
        if (m_options.drop_after)
            piece = std::min(piece, m_options.drop_after - m_sent);
        if (piece > 0 && !m_peer.send(bytes, piece))
            return false;
        bytes += piece;
        count -= piece;
        m_sent += piece;
        if (m_options.drop_after && m_sent >= m_options.drop_after) {
            m_peer.close(); // a clean close, in the middle of the response
            return false;
        }
        if (m_options.segment && count > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // pieces arrive apart
    }
    return true;
}

} // namespace morvane::instrument_server
