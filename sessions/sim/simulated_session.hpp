#pragma once
// A SCPI instrument on a message-based bus with END, as an in-process message session: the
// default resource that needs no hardware.
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <visacom.h>
#include <wrl/client.h>
#include "sim/memory_budget.hpp"

namespace morvane::sim {

inline constexpr LONG default_timeout_ms = 2000;

// A new session over a SCPI model in its reset state; `seed` fixes its measurement noise (and
// *RST re-seeds with it), so that its answers are the same from run to run. What it holds for
// its client (the message being received, the response, stored data) is taken from `budget`,
// when given, beside the fixed limits of a message and a response.
Microsoft::WRL::ComPtr<IMessage> create_simulated_session(std::uint32_t seed = 1,
                                                          std::wstring_view resource_name = L"SIM",
                                                          LONG timeout_ms = default_timeout_ms,
                                                          std::shared_ptr<memory_budget> budget = nullptr);

// Whether a session made here has response bytes that no one has read yet: a server that
// relays the session over a socket asks before it reads, so that reading never waits for an
// answer that is not coming.
bool response_ready(IMessage* session);
// How many response bytes are still unread, so that a server sizes its reply once.
std::size_t response_left(IMessage* session);
// Whether the session holds a response back until an acquisition ends (*OPC?): a server waits
// for it to be ready, or for its client's next message, which drops it.
bool response_held(IMessage* session);

// Calls `raised` each time the instrument of a session made here requests service, with its
// status byte at that moment (RQS set): from the session's timer thread when an acquisition
// completes, or from the call that raised it. The session's lock is not held, so the hook may
// call the session; releasing the session waits for a hook in progress, and no hook is called
// after it. One hook per session: a later call replaces it, an empty function removes it (a
// call already under way still ends). What a hook throws is dropped.
void on_service_request(IMessage* session, std::function<void(std::uint8_t status_byte)> raised);

} // namespace morvane::sim
