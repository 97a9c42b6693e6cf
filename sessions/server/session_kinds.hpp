#pragma once
// The kinds of session that the resource manager knows, as one table (session_kinds.cpp):
// each row the form of its resource names as ResourceForms shows it, a parser of a name into
// the kind's own address, an opener of a session at that address and, for a kind that can be
// found, a finder. The manager names no kind: a new kind is a row and a folder.
#include <windows.h>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <visacom.h>
#include "oncrpc/rpc_numbers.hpp"
#include "server/resource_pattern.hpp"

namespace morvane::sessions {

// The manager's settings at the time of a call, for the kinds that need them.
struct manager_settings {
    unsigned short portmapper_port = oncrpc::portmapper::default_port;
    unsigned short core_port = 0;     // 0: ask the portmapper
    std::wstring discovery_addresses; // comma-separated; none: a broadcast on the local networks
    std::chrono::milliseconds discovery_timeout{1000};
};

struct open_request {
    std::wstring_view name; // as the client gave it: the session's ResourceName
    LONG timeout_ms;
    const manager_settings& settings;
};

// The forms of every kind, in the table's order, ", " between.
std::wstring resource_forms();

// Parses `request.name` with each kind in turn; the first that takes it opens the session (a
// failure leaves its error information on the thread). None when no kind takes the name.
// Throws std::bad_alloc.
std::optional<HRESULT> open_resource(const open_request& request, IMessage** session);

// The names that the kinds which can be found find and that match, in the table's order.
std::vector<std::wstring> find_resources(const resource_pattern& pattern, const manager_settings& settings);

} // namespace morvane::sessions
