#pragma once
// The numbers of the VXI-11 core and interrupt channels, named once for the session and the server (those
// of ONC RPC and the portmapper are in oncrpc/rpc_numbers.hpp).
#include <cstdint>

namespace morvane::vxi11 {

namespace core {
inline constexpr std::uint32_t program = 0x0607AF, version = 1;
inline constexpr std::uint32_t create_link = 10, device_write = 11, device_read = 12, device_readstb = 13,
                               device_trigger = 14, device_clear = 15, device_remote = 16, device_local = 17,
                               device_lock = 18, device_unlock = 19, device_enable_srq = 20, device_docmd = 22,
                               destroy_link = 23, create_intr_chan = 25, destroy_intr_chan = 26;
} // namespace core

// The interrupt channel, where the client serves and the device calls it on a service request.
namespace interrupt {
inline constexpr std::uint32_t program = 0x0607B1, version = 1;
inline constexpr std::uint32_t device_intr_srq = 30;           // one-way: no reply is sent
inline constexpr std::uint32_t family_tcp = 0, family_udp = 1; // progFamily of create_intr_chan
} // namespace interrupt

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
