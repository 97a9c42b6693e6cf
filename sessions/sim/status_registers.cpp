#include "sim/status_registers.hpp"

#include <utility>

namespace morvane::sim {

std::uint8_t event_of_error(int code)
{
    if (code <= -100 && code > -200)
        return event_bit::command_error;
    if (code <= -200 && code > -300)
        return event_bit::execution_error;
    if (code <= -300 && code > -400)
        return event_bit::device_error;
    if (code <= -400 && code > -500)
        return event_bit::query_error;
    return 0;
}

std::uint8_t status_registers::take_events() { return std::exchange(m_events, 0); }

std::uint8_t status_registers::summary_bits(std::uint8_t queues) const
{
    return (queues & ~status_bit::service_request) | ((m_events & m_event_enable) ? status_bit::event_summary : 0);
}

std::uint8_t status_registers::status_byte(std::uint8_t queues) const
{
    const std::uint8_t bits = summary_bits(queues);
    return bits | ((bits & m_service_enable) ? status_bit::service_request : 0);
}

std::uint8_t status_registers::serial_poll(std::uint8_t queues)
{
    const std::uint8_t bits = summary_bits(queues) | (m_requesting ? status_bit::service_request : 0);
    m_requesting = false;
    return bits;
}

void status_registers::update(std::uint8_t queues)
{
    const std::uint8_t bits = summary_bits(queues);
    const bool summary = (bits & m_service_enable) != 0;
    // A request rises with the summary, not while it stays on: one per event that asks.
    if (summary && !m_summary) {
        m_requesting = true;
        m_requests.push_back(bits | status_bit::service_request);
    }
    m_summary = summary;
}

std::vector<std::uint8_t> status_registers::take_requests() { return std::exchange(m_requests, {}); }

} // namespace morvane::sim
