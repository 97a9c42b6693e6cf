#pragma once
// HiSLIP's messages as they travel: a 16-byte header ("HS", type, control code, a 32-bit
// parameter, a 64-bit payload length, in network order) and the payload, for the session and
// the server alike.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace morvane::hislip {

inline constexpr unsigned short default_port = 4880;
inline constexpr std::size_t header_size = 16;

enum class message_type : std::uint8_t {
    initialize = 0,
    initialize_response = 1,
    fatal_error = 2,
    error = 3,
    async_lock = 4,
    async_lock_response = 5,
    data = 6,
    data_end = 7,
    device_clear_complete = 8,
    device_clear_acknowledge = 9,
    async_remote_local_control = 10,
    async_remote_local_response = 11,
    trigger = 12,
    interrupted = 13,
    async_interrupted = 14,
    async_maximum_message_size = 15,
    async_maximum_message_size_response = 16,
    async_initialize = 17,
    async_initialize_response = 18,
    async_device_clear = 19,
    async_service_request = 20,
    async_status_query = 21,
    async_status_response = 22,
    async_device_clear_acknowledge = 23,
    async_lock_info = 24,
    async_lock_info_response = 25,
};

// FatalError's codes: the sender closes both connections after it.
namespace fatal {
inline constexpr std::uint8_t unidentified = 0, poorly_formed_header = 1, channels_not_established = 2,
                              invalid_initialization = 3, too_many_clients = 4;
}
// Error's codes: the connection goes on.
namespace error {
inline constexpr std::uint8_t unidentified = 0, unrecognized_type = 1, unrecognized_control_code = 2,
                              unrecognized_vendor_message = 3, message_too_large = 4;
}

// Control code bits.
inline constexpr std::uint8_t rmt_delivered = 1; // Data, DataEND, Trigger, AsyncStatusQuery
inline constexpr std::uint8_t overlapped = 1;    // InitializeResponse, the device clear's features
namespace lock {
inline constexpr std::uint8_t release = 0, request = 1;                                  // AsyncLock
inline constexpr std::uint8_t failed = 0, granted = 1, shared_released = 2, refused = 3; // AsyncLockResponse
} // namespace lock

// The client's message IDs start here after Initialize and after each device clear, and step by 2.
inline constexpr std::uint32_t first_message_id = 0xFFFFFF00u;
inline constexpr std::uint16_t version_1_0 = 0x0100;

struct header {
    message_type type{};
    std::uint8_t control = 0;
    std::uint32_t parameter = 0;
    std::uint64_t length = 0;
    bool operator==(const header&) const = default;
};

using header_bytes = std::array<unsigned char, header_size>;

// A peer that broke the framing: the connection cannot go on.
struct protocol_error : std::runtime_error {
    std::uint8_t fatal_code;
    protocol_error(std::uint8_t code, const std::string& text) : std::runtime_error(text), fatal_code(code) {}
};

header_bytes encode(const header& message) noexcept;
// Throws protocol_error when the prologue is not "HS".
header decode(std::span<const unsigned char, header_size> bytes);

// A 64-bit payload (AsyncMaximumMessageSize and its answer), in network order.
std::array<unsigned char, 8> encode_size(std::uint64_t size) noexcept;
// None when the payload is not 8 bytes.
std::optional<std::uint64_t> decode_size(std::span<const unsigned char> payload) noexcept;

// "Data", "AsyncLock", or "type 200" for the error information.
std::string type_name(std::uint8_t type);

} // namespace morvane::hislip
