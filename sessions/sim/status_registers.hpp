#pragma once
// The instrument's IEEE 488.2 status registers: the standard event status register and its
// enable, the service request enable, and the request for service that their summary raises.
// Not thread-safe; the model's caller serialises calls.
#include <cstdint>
#include <vector>

namespace morvane::sim {

namespace status_bit {
inline constexpr std::uint8_t error_available = 0x04; // the error queue is not empty
inline constexpr std::uint8_t message_available = 0x10;
inline constexpr std::uint8_t event_summary = 0x20;
inline constexpr std::uint8_t service_request = 0x40; // RQS in a serial poll, MSS in *STB?
} // namespace status_bit

namespace event_bit {
inline constexpr std::uint8_t operation_complete = 0x01;
inline constexpr std::uint8_t query_error = 0x04;
inline constexpr std::uint8_t device_error = 0x08;
inline constexpr std::uint8_t execution_error = 0x10;
inline constexpr std::uint8_t command_error = 0x20;
} // namespace event_bit

// The standard event that an error code belongs to, by its class (-100s command, and so on).
std::uint8_t event_of_error(int code);

class status_registers {
public:
    void enable_service(std::uint8_t bits) { m_service_enable = bits & ~status_bit::service_request; }
    std::uint8_t service_enable() const { return m_service_enable; }
    void enable_events(std::uint8_t bits) { m_event_enable = bits; }
    std::uint8_t event_enable() const { return m_event_enable; }

    void record(std::uint8_t events) { m_events |= events; }
    // *ESR?: read and cleared.
    std::uint8_t take_events();
    void clear_events() { m_events = 0; }

    // The status byte over `queues` (the error and message bits) as *STB? gives it: ESB added,
    // bit 6 the summary of the enabled bits (MSS).
    std::uint8_t status_byte(std::uint8_t queues) const;
    // As a serial poll gives it: bit 6 is RQS, which the poll clears.
    std::uint8_t serial_poll(std::uint8_t queues);
    // Looks at the enabled bits: as their summary turns on, RQS is set and the status byte of
    // that moment is kept as a request for service.
    void update(std::uint8_t queues);
    std::vector<std::uint8_t> take_requests();

private:
    std::uint8_t summary_bits(std::uint8_t queues) const;

    std::uint8_t m_service_enable = 0;
    std::uint8_t m_event_enable = 0;
    std::uint8_t m_events = 0;
    bool m_requesting = false; // RQS
    bool m_summary = false;    // the enabled bits were on when last looked at
    std::vector<std::uint8_t> m_requests;
};

} // namespace morvane::sim
