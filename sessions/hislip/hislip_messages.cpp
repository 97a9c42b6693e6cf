#include "hislip/hislip_messages.hpp"

#include <iterator>

namespace morvane::hislip {
namespace {

std::uint64_t big_endian(std::span<const unsigned char> bytes) noexcept
{
    std::uint64_t value = 0;
    for (const unsigned char byte : bytes)
        value = value << 8 | byte;
    return value;
}

void put_big_endian(std::uint64_t value, std::span<unsigned char> to) noexcept
{
    for (auto at = to.rbegin(); at != to.rend(); ++at, value >>= 8)
        *at = static_cast<unsigned char>(value);
}

} // namespace

header_bytes encode(const header& message) noexcept
{
    header_bytes bytes{'H', 'S', static_cast<unsigned char>(message.type), message.control};
    put_big_endian(message.parameter, std::span(bytes).subspan(4, 4));
    put_big_endian(message.length, std::span(bytes).subspan(8, 8));
    return bytes;
}

header decode(std::span<const unsigned char, header_size> bytes)
{
    if (bytes[0] != 'H' || bytes[1] != 'S')
        throw protocol_error(fatal::poorly_formed_header, "a message header without the prologue \"HS\"");
    return {static_cast<message_type>(bytes[2]), bytes[3], static_cast<std::uint32_t>(big_endian(bytes.subspan(4, 4))),
            big_endian(bytes.subspan(8, 8))};
}

std::array<unsigned char, 8> encode_size(std::uint64_t size) noexcept
{
    std::array<unsigned char, 8> bytes;
    put_big_endian(size, bytes);
    return bytes;
}

std::optional<std::uint64_t> decode_size(std::span<const unsigned char> payload) noexcept
{
    if (payload.size() != 8)
        return std::nullopt;
    return big_endian(payload);
}

std::string type_name(std::uint8_t type)
{
    static const char* const names[] = {"Initialize",
                                        "InitializeResponse",
                                        "FatalError",
                                        "Error",
                                        "AsyncLock",
                                        "AsyncLockResponse",
                                        "Data",
                                        "DataEND",
                                        "DeviceClearComplete",
                                        "DeviceClearAcknowledge",
                                        "AsyncRemoteLocalControl",
                                        "AsyncRemoteLocalResponse",
                                        "Trigger",
                                        "Interrupted",
                                        "AsyncInterrupted",
                                        "AsyncMaximumMessageSize",
                                        "AsyncMaximumMessageSizeResponse",
                                        "AsyncInitialize",
                                        "AsyncInitializeResponse",
                                        "AsyncDeviceClear",
                                        "AsyncServiceRequest",
                                        "AsyncStatusQuery",
                                        "AsyncStatusResponse",
                                        "AsyncDeviceClearAcknowledge",
                                        "AsyncLockInfo",
                                        "AsyncLockInfoResponse"};
    return type < std::size(names) ? names[type] : "type " + std::to_string(type);
}

} // namespace morvane::hislip
