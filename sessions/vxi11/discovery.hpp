#pragma once
// Finding VXI-11 instruments: a portmapper GETPORT for the core channel sent by UDP, to given
// addresses or to the broadcast addresses of the local IPv4 networks; every host that answers
// with a port is one.
#include <chrono>
#include <string>
#include <vector>

namespace morvane::vxi11 {

// The broadcast address of every local IPv4 network that is up, loopback aside.
std::vector<std::string> local_broadcast_addresses();

// The numeric addresses of the hosts that answered within `timeout`, sorted, each once;
// `targets` are numeric IPv4 addresses or host names (those that do not resolve are skipped).
std::vector<std::string> discover_instruments(const std::vector<std::string>& targets, unsigned short portmapper_port,
                                              std::chrono::milliseconds timeout, bool broadcast);

} // namespace morvane::vxi11
