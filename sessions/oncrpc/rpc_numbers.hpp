#pragma once
// The numbers of ONC RPC version 2 and of the portmapper, named once for clients and servers.
#include <cstdint>

namespace morvane::oncrpc {

namespace rpc {
inline constexpr std::uint32_t version = 2;
inline constexpr std::uint32_t call = 0, reply = 1;              // msg_type
inline constexpr std::uint32_t msg_accepted = 0, msg_denied = 1; // reply_stat
inline constexpr std::uint32_t rpc_mismatch = 0;                 // reject_stat
inline constexpr std::uint32_t auth_none = 0;
inline constexpr std::uint32_t success = 0, prog_unavail = 1, prog_mismatch = 2, proc_unavail = 3, garbage_args = 4,
                               system_err = 5;               // accept_stat
inline constexpr std::uint32_t last_fragment = 0x8000'0000u; // record mark: the record's last fragment
} // namespace rpc

namespace portmapper {
inline constexpr std::uint32_t program = 100000, version = 2;
inline constexpr std::uint32_t null_proc = 0, getport = 3;
inline constexpr std::uint32_t tcp = 6, udp = 17; // protocols of a mapping
inline constexpr unsigned short default_port = 111;
} // namespace portmapper

} // namespace morvane::oncrpc
