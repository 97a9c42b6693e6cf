#pragma once
// The SCPI model behind the simulated session: the instrument's settings, its command set and
// its error queue. Not thread-safe; the session serialises calls.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>
#include "sim/scpi_error.hpp"
#include "sim/scpi_parser.hpp"
#include "sim/status_registers.hpp"
#include "sim/waveform.hpp"

namespace morvane::sim {

inline constexpr std::int64_t max_points = 2'000'000;        // WAVeform:POINts, trace elements
inline constexpr std::int64_t max_array_readings = 100'000;  // MEASure:ARRay?
inline constexpr std::size_t max_response_bytes = 32u << 20; // one response message
inline constexpr std::int64_t max_acquire_ms = 600'000;      // ACQuire:TIME

class scpi_model {
public:
    using clock = std::chrono::steady_clock;

    explicit scpi_model(std::uint32_t seed);

    // Runs one program message and puts its response message in `response`: the answers of
    // the queries that succeeded, joined by ';' and ended by LF, or nothing when no query
    // answered. The handlers append to it, so that its memory serves message after message.
    void execute(std::string_view message, std::string& response);
    void report(int code);

    // Asked, before the model takes memory for a response or for stored data, whether it may
    // hold that many bytes in all; a query or command that would pass it queues -223.
    void limit_holding(std::function<bool(std::size_t)> may_hold) { m_may_hold = std::move(may_hold); }
    // The bytes that stored data (list, trace) hold.
    std::size_t stored_bytes() const noexcept;

    // The time is given, not read, so that the model runs the same under test: an acquisition
    // that INITiate starts counts from the last time given, and ends when a later one passes it.
    void advance(clock::time_point now);
    // When the acquisition under way ends; nothing when none is.
    std::optional<clock::time_point> done_at() const { return m_done_at; }
    // The response waits for an *OPC? that waits for the acquisition.
    bool response_held() const { return m_answer_waits && m_done_at; }

    // The status byte as *STB? gives it; the session adds MAV.
    std::uint8_t status_byte() const;
    // `message_available`: the session has a response ready to read.
    std::uint8_t serial_poll(bool message_available);
    void update_service(bool message_available);
    // The status bytes of the requests for service that rose since last asked.
    std::vector<std::uint8_t> take_requests() { return m_status.take_requests(); }
    // A bus trigger (*TRG or the session's own), counted since *RST for TRIGger:COUNt?.
    void trigger() { ++m_triggers; }

private:
    struct command;
    static const command commands[];

    void reset();
    void queue_error(int code);
    std::uint8_t queues(bool message_available) const;
    void complete_acquisition();
    static const command* find(std::string_view header, bool query);
    // `node` is the header path that a relative header after ';' starts from; run moves it.
    void run(const program_unit& unit, std::string& node, std::string& out);
    double reading();
    bool may_hold(std::size_t response_capacity, std::size_t stored) const;
    // Room for `data_bytes` more of the answer in `out` (and a header and the final line feed),
    // taken at once, so that a response of megabytes is not copied to grow.
    void make_room(std::string& out, std::size_t data_bytes) const;

    void identify(const program_unit&, std::string& out);
    void reset_command(const program_unit&, std::string&);
    void clear_status(const program_unit&, std::string&);
    void operation_complete(const program_unit&, std::string&);
    void operation_complete_query(const program_unit&, std::string& out);
    void set_service_enable(const program_unit& unit, std::string&);
    void get_service_enable(const program_unit&, std::string& out);
    void set_event_enable(const program_unit& unit, std::string&);
    void get_event_enable(const program_unit&, std::string& out);
    void event_status_query(const program_unit&, std::string& out);
    void initiate(const program_unit&, std::string&);
    void set_acquire_time(const program_unit& unit, std::string&);
    void get_acquire_time(const program_unit&, std::string& out);
    void next_error(const program_unit&, std::string& out);
    void status_byte_query(const program_unit&, std::string& out);
    void trigger_command(const program_unit&, std::string&);
    void get_trigger_count(const program_unit&, std::string& out);
    void measure_voltage(const program_unit&, std::string& out);
    void measure_array(const program_unit& unit, std::string& out);
    void set_list(const program_unit& unit, std::string&);
    void get_list(const program_unit&, std::string& out);
    void set_points(const program_unit& unit, std::string&);
    void get_points(const program_unit&, std::string& out);
    void set_format(const program_unit& unit, std::string&);
    void get_format(const program_unit&, std::string& out);
    void set_byte_order(const program_unit& unit, std::string&);
    void get_byte_order(const program_unit&, std::string& out);
    void waveform_data(const program_unit&, std::string& out);
    void set_trace(const program_unit& unit, std::string&);
    void get_trace(const program_unit&, std::string& out);
    void get_trace_values(const program_unit&, std::string& out);

    std::uint32_t m_seed;
    std::mt19937 m_noise;
    error_queue m_errors;
    std::size_t m_points = 0;
    sample_format m_format = sample_format::real32;
    bool m_big_endian = true;
    std::vector<double> m_list;
    std::string m_trace_block;  // as received, header included
    std::string m_trace_values; // its elements as text, decoded when it arrived
    std::uint64_t m_triggers = 0;
    status_registers m_status; // *RST leaves it as it is
    clock::time_point m_now{};
    std::chrono::milliseconds m_acquire_time{0};
    std::optional<clock::time_point> m_done_at; // an acquisition is under way
    bool m_complete_armed = false;              // *OPC waits for it
    bool m_answer_waits = false;                // an *OPC? of the last message waits for it
    std::function<bool(std::size_t)> m_may_hold;
};

} // namespace morvane::sim
