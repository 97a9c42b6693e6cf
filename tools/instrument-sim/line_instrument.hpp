#pragma once
// The simulated instrument at the far end of a line without END (a raw TCP connection, a serial
// line): a session of its own, each message ended at a line feed (or END-less block), each
// response sent back as the fault options say.
#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <visacom.h>
#include <wrl/client.h>
#include "server_options.hpp"
#include "sim/memory_budget.hpp"
#include "sim/message_end.hpp"

namespace morvane::instrument_server {

// The line's far end, as the instrument uses it.
struct line_peer {
    std::function<bool(const unsigned char* bytes, std::size_t count)> send; // all of them; false: failed
    std::function<void()> close;                                             // a clean close, for --drop-after
    // Whether the peer sent more (or went) within the wait.
    std::function<bool(std::chrono::milliseconds wait)> sends_within;
};

class line_instrument {
public:
    line_instrument(line_peer peer, const server_options& options, std::shared_ptr<sim::memory_budget> budget);
    // Whether the session could be made.
    explicit operator bool() const noexcept { return m_session != nullptr; }
    // Bytes off the line; false once the line is to close.
    bool take(std::string_view bytes);

private:
    bool relay();
    bool send_response(const unsigned char* bytes, std::size_t count);

    line_peer m_peer;
    const server_options& m_options;
    Microsoft::WRL::ComPtr<IMessage> m_session;
    // A line has no END: its line feeds stand for it, also after an indefinite block.
    sim::message_end m_end{true};
    std::size_t m_sent = 0;
};

// Hands bytes of a message to a simulated instrument, with END when they end it; false when it failed.
bool write_to_instrument(IMessage& session, std::string_view bytes, bool end);

} // namespace morvane::instrument_server
