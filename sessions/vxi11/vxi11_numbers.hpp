#pragma once
// The numbers of ONC RPC, the portmapper and the VXI-11 core channel, named once for the
// session and the server.
#include <cstdint>

namespace morvane::vxi11 {

// ONC RPC version 2.
namespace rpc {
inline constexpr std::uint32_t version = 2;
inline constexpr std::uint32_t call = 0, reply = 1;                 // msg_type
inline constexpr std::uint32_t msg_accepted = 0, msg_denied = 1;    // reply_stat
inline constexpr std::uint32_t rpc_mismatch = 0;                    // reject_stat
inline constexpr std::uint32_t auth_none = 0;
inline constexpr std::uint32_t success = 0, prog_unavail = 1, prog_mismatch = 2, proc_unavail = 3,
                               garbage_args = 4, system_err = 5;  // accept_stat
inline constexpr std::uint32_t last_fragment = 0x8000'0000u; // record mark: the record's last fragment
} // namespace rpc

namespace portmapper {
inline constexpr std::uint32_t program = 100000, version = 2;
inline constexpr std::uint32_t null_proc = 0, getport = 3;
inline constexpr std::uint32_t tcp = 6, udp = 17;
inline constexpr unsigned short default_port = 111;
} // namespace portmapper

namespace core {
inline constexpr std::uint32_t program = 0x0607AF, version = 1;
inline constexpr std::uint32_t create_link = 10, device_write = 11, device_read = 12, device_readstb = 13,
                               device_trigger = 14, device_clear = 15, device_remote = 16, device_local = 17,
                               device_lock = 18, device_unlock = 19, device_enable_srq = 20, device_docmd = 22,
                               destroy_link = 23, create_intr_chan = 25, destroy_intr_chan = 26;
} // namespace core

// Flags of device_write, device_read and the generic calls.
inline constexpr std::int32_t flag_wait_lock = 0x01, flag_end = 0x08, flag_term_char = 0x80;
// Reasons a device_read returned.
inline constexpr std::int32_t reason_request_size = 0x01, reason_term_char = 0x02, reason_end = 0x04;

// The error field of every core result.
enum class device_error : std::int32_t {
    none = 0,
    syntax = 1,
    not_accessible = 3,
    invalid_link = 4,
    parameter = 5,
    channel_not_established = 6,
    not_supported = 8,
    out_of_resources = 9,
    locked_by_another = 11,
    no_lock_held = 12,
    io_timeout = 15,
    io_error = 17,
    invalid_address = 21,
    abort = 23,
    channel_already_established = 29,
};

} // namespace morvane::vxi11
