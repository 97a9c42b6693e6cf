#include "sim/scpi_model.hpp"

#include <limits>
#include "sim/scpi_data.hpp"

namespace morvane::sim {
namespace {

constexpr std::string_view identity = "Morvane,SIM-1,0,1.0";
constexpr double nominal_volts = 1.25;
constexpr double reading_noise_volts = 0.001;
constexpr std::size_t default_points = 1000;
constexpr std::size_t any_count = std::numeric_limits<std::size_t>::max();

template<typename Each> void append_joined(std::string& out, std::size_t count, Each each)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0)
            out.push_back(',');
        out += each(i);
    }
}

constexpr std::size_t longest_reading = 16; // "+1.25012345E+00,"

} // namespace

struct scpi_model::command {
    std::string_view header;
    bool query;
    std::size_t min_parameters;
    std::size_t max_parameters;
    void (scpi_model::*handler)(const program_unit&, std::string&);
};

const scpi_model::command scpi_model::commands[] = {
    {"*IDN", true, 0, 0, &scpi_model::identify},
    {"*RST", false, 0, 0, &scpi_model::reset_command},
    {"*CLS", false, 0, 0, &scpi_model::clear_status},
    {"*OPC", false, 0, 0, &scpi_model::operation_complete},
    {"*OPC", true, 0, 0, &scpi_model::operation_complete_query},
    {"*STB", true, 0, 0, &scpi_model::status_byte_query},
    {"*SRE", false, 1, 1, &scpi_model::set_service_enable},
    {"*SRE", true, 0, 0, &scpi_model::get_service_enable},
    {"*ESE", false, 1, 1, &scpi_model::set_event_enable},
    {"*ESE", true, 0, 0, &scpi_model::get_event_enable},
    {"*ESR", true, 0, 0, &scpi_model::event_status_query},
    {"INITiate", false, 0, 0, &scpi_model::initiate},
    {"ACQuire:TIME", false, 1, 1, &scpi_model::set_acquire_time},
    {"ACQuire:TIME", true, 0, 0, &scpi_model::get_acquire_time},
    {"*TRG", false, 0, 0, &scpi_model::trigger_command},
    {"TRIGger:COUNt", true, 0, 0, &scpi_model::get_trigger_count},
    {"SYSTem:ERRor", true, 0, 0, &scpi_model::next_error},
    {"SYSTem:ERRor:NEXT", true, 0, 0, &scpi_model::next_error},
    {"MEASure:VOLTage", true, 0, 0, &scpi_model::measure_voltage},
    {"MEASure:ARRay", true, 1, 1, &scpi_model::measure_array},
    {"DATA:LIST", false, 1, any_count, &scpi_model::set_list},
    {"DATA:LIST", true, 0, 0, &scpi_model::get_list},
    {"WAVeform:POINts", false, 1, 1, &scpi_model::set_points},
    {"WAVeform:POINts", true, 0, 0, &scpi_model::get_points},
    {"WAVeform:FORMat", false, 1, 2, &scpi_model::set_format},
    {"WAVeform:FORMat", true, 0, 0, &scpi_model::get_format},
    {"FORMat:BORDer", false, 1, 1, &scpi_model::set_byte_order},
    {"FORMat:BORDer", true, 0, 0, &scpi_model::get_byte_order},
    {"WAVeform:DATA", true, 0, 0, &scpi_model::waveform_data},
    {"TRACe:DATA", false, 1, 1, &scpi_model::set_trace},
    {"TRACe:DATA", true, 0, 0, &scpi_model::get_trace},
    {"TRACe:VALues", true, 0, 0, &scpi_model::get_trace_values},
};

scpi_model::scpi_model(std::uint32_t seed) : m_seed(seed) { reset(); }

void scpi_model::reset()
{
    m_noise.seed(m_seed);
    m_points = default_points;
    m_format = sample_format::real32;
    m_big_endian = true;
    m_list.clear();
    m_trace_block.clear();
    m_trace_values.clear();
    m_triggers = 0;
    m_acquire_time = std::chrono::milliseconds(0);
    m_done_at.reset(); // the acquisition ends without completing: *OPC no longer waits for it
    m_complete_armed = false;
}

void scpi_model::report(int code) { queue_error(code); }

void scpi_model::queue_error(int code)
{
    const bool kept = m_errors.push(code);
    m_status.record(event_of_error(code) | (kept ? 0 : event_of_error(scpi::queue_overflow)));
}

std::uint8_t scpi_model::queues(bool message_available) const
{
    return (m_errors.empty() ? 0 : status_bit::error_available) |
           (message_available ? status_bit::message_available : 0);
}

std::uint8_t scpi_model::status_byte() const { return m_status.status_byte(queues(false)); }
std::uint8_t scpi_model::serial_poll(bool message_available) { return m_status.serial_poll(queues(message_available)); }
void scpi_model::update_service(bool message_available) { m_status.update(queues(message_available)); }

void scpi_model::advance(clock::time_point now)
{
    m_now = now;
    if (m_done_at && now >= *m_done_at)
        complete_acquisition();
}

void scpi_model::complete_acquisition()
{
    m_done_at.reset();
    if (m_complete_armed)
        m_status.record(event_bit::operation_complete);
    m_complete_armed = false;
}

std::size_t scpi_model::stored_bytes() const noexcept
{
    return m_trace_block.capacity() + m_trace_values.capacity() + m_list.capacity() * sizeof(double);
}

bool scpi_model::may_hold(std::size_t response_capacity, std::size_t stored) const
{
    return !m_may_hold || m_may_hold(response_capacity + stored);
}

void scpi_model::make_room(std::string& out, std::size_t data_bytes) const
{
    const std::size_t needed = out.size() + data_bytes + 12;
    if (needed > max_response_bytes || !may_hold(std::max(needed, out.capacity()), stored_bytes()))
        throw scpi_failure(scpi::too_much_data);
    if (needed > out.capacity()) {
        // Made at the size asked for: a string's own reserve may double what it held, and the
        // budget was asked for `needed`.
        std::string room;
        room.reserve(needed);
        room.append(out);
        out.swap(room);
    }
}

void scpi_model::execute(std::string_view message, std::string& response)
{
    response.clear();
    m_answer_waits = false;
    bool answered = false;
    std::string node; // each message starts at the root
    message_parser parser(message);
    try {
        while (const auto unit = parser.next()) {
            // Within a message no response is ready: the one before it was read or dropped.
            update_service(false);
            const std::size_t before = response.size();
            if (unit->query && answered)
                response.push_back(';');
            const std::size_t answer_start = response.size();
            try {
                run(*unit, node, response);
            } catch (const scpi_failure& failure) {
                response.resize(before);
                queue_error(failure.code()); // a failed query answers nothing; the next unit runs
                continue;
            }
            if (!unit->query)
                continue;
            if (before + (response.size() - answer_start) + 2 > max_response_bytes ||
                !may_hold(response.capacity(), stored_bytes())) {
                response.resize(before);
                queue_error(scpi::too_much_data);
                continue;
            }
            answered = true;
        }
    } catch (const scpi_failure& failure) {
        queue_error(failure.code()); // the parser is lost: the rest of the message is dropped
    } catch (...) {
        response.clear(); // out of memory: no half response
        throw;
    }
    update_service(false);
    if (answered)
        response.push_back('\n');
}

const scpi_model::command* scpi_model::find(std::string_view header, bool query)
{
    for (const command& candidate : commands)
        if (candidate.query == query && header_matches(header, candidate.header))
            return &candidate;
    return nullptr;
}

void scpi_model::run(const program_unit& unit, std::string& node, std::string& out)
{
    const bool common = unit.header.front() == '*';
    std::string header = unit.header;
    // Relative to the previous command's node first, as SCPI has it; then from the root, so
    // that a full header works after ';' too.
    const command* found = nullptr;
    if (!common && !unit.rooted && !node.empty()) {
        header = node + ':' + unit.header;
        found = find(header, unit.query);
    }
    if (!found) {
        header = unit.header;
        found = find(header, unit.query);
    }
    if (!found)
        throw scpi_failure(scpi::undefined_header);
    if (const std::size_t last = header.rfind(':'); !common)
        node = last == std::string::npos ? std::string() : header.substr(0, last);
    if (unit.parameters.size() < found->min_parameters)
        throw scpi_failure(scpi::missing_parameter);
    if (unit.parameters.size() > found->max_parameters)
        throw scpi_failure(scpi::parameter_not_allowed);
    (this->*found->handler)(unit, out);
}

double scpi_model::reading() { return std::normal_distribution<double>(nominal_volts, reading_noise_volts)(m_noise); }

void scpi_model::identify(const program_unit&, std::string& out) { out += identity; }
void scpi_model::reset_command(const program_unit&, std::string&) { reset(); }
void scpi_model::clear_status(const program_unit&, std::string&)
{
    m_errors.clear();
    m_status.clear_events();
    m_complete_armed = false;
}

void scpi_model::operation_complete(const program_unit&, std::string&)
{
    if (m_done_at)
        m_complete_armed = true;
    else
        m_status.record(event_bit::operation_complete);
}

void scpi_model::operation_complete_query(const program_unit&, std::string& out)
{
    out += "1";
    m_answer_waits = m_answer_waits || m_done_at;
}

void scpi_model::set_service_enable(const program_unit& unit, std::string&)
{
    m_status.enable_service(static_cast<std::uint8_t>(to_integer(unit.parameters[0], 0, 255)));
}

void scpi_model::get_service_enable(const program_unit&, std::string& out)
{
    out += std::to_string(m_status.service_enable());
}

void scpi_model::set_event_enable(const program_unit& unit, std::string&)
{
    m_status.enable_events(static_cast<std::uint8_t>(to_integer(unit.parameters[0], 0, 255)));
}

void scpi_model::get_event_enable(const program_unit&, std::string& out)
{
    out += std::to_string(m_status.event_enable());
}
void scpi_model::event_status_query(const program_unit&, std::string& out)
{
    out += std::to_string(m_status.take_events());
}

void scpi_model::initiate(const program_unit&, std::string&)
{
    if (m_done_at)
        throw scpi_failure(scpi::init_ignored);
    if (m_acquire_time.count() > 0)
        m_done_at = m_now + m_acquire_time;
}

void scpi_model::set_acquire_time(const program_unit& unit, std::string&)
{
    m_acquire_time = std::chrono::milliseconds(to_integer(unit.parameters[0], 0, max_acquire_ms));
}

void scpi_model::get_acquire_time(const program_unit&, std::string& out)
{
    out += std::to_string(m_acquire_time.count());
}
void scpi_model::next_error(const program_unit&, std::string& out) { out += m_errors.pop(); }
void scpi_model::status_byte_query(const program_unit&, std::string& out) { out += std::to_string(status_byte()); }
void scpi_model::trigger_command(const program_unit&, std::string&) { trigger(); }
void scpi_model::get_trigger_count(const program_unit&, std::string& out) { out += std::to_string(m_triggers); }

void scpi_model::measure_voltage(const program_unit&, std::string& out) { out += nr3(reading()); }

void scpi_model::measure_array(const program_unit& unit, std::string& out)
{
    const auto count = static_cast<std::size_t>(to_integer(unit.parameters[0], 1, max_array_readings));
    make_room(out, count * longest_reading);
    append_joined(out, count, [this](std::size_t) { return nr3(reading()); });
}

void scpi_model::set_list(const program_unit& unit, std::string& out)
{
    std::vector<double> values;
    values.reserve(unit.parameters.size());
    for (const parameter& value : unit.parameters)
        values.push_back(to_number(value));
    if (!may_hold(out.capacity(),
                  stored_bytes() - m_list.capacity() * sizeof(double) + values.capacity() * sizeof(double)))
        throw scpi_failure(scpi::too_much_data);
    m_list = std::move(values);
}

void scpi_model::get_list(const program_unit&, std::string& out)
{
    make_room(out, m_list.size() * 24); // the shortest form of a double takes at most 24 bytes
    append_joined(out, m_list.size(), [this](std::size_t i) { return shortest(m_list[i]); });
}

void scpi_model::set_points(const program_unit& unit, std::string&)
{
    m_points = static_cast<std::size_t>(to_integer(unit.parameters[0], 1, max_points));
}

void scpi_model::get_points(const program_unit&, std::string& out) { out += std::to_string(m_points); }

void scpi_model::set_format(const program_unit& unit, std::string&)
{
    const parameter& kind = unit.parameters[0];
    if (is_mnemonic(kind, "BYTE")) {
        if (unit.parameters.size() > 1)
            throw scpi_failure(scpi::parameter_not_allowed);
        m_format = sample_format::byte;
        return;
    }
    const bool real = is_mnemonic(kind, "REAL");
    if (!real && !is_mnemonic(kind, "INTeger"))
        throw scpi_failure(scpi::illegal_parameter_value);
    if (unit.parameters.size() < 2)
        throw scpi_failure(scpi::missing_parameter);
    const std::int64_t bits = to_integer(unit.parameters[1], 0, 64);
    if (real && (bits == 32 || bits == 64))
        m_format = bits == 32 ? sample_format::real32 : sample_format::real64;
    else if (!real && (bits == 16 || bits == 32))
        m_format = bits == 16 ? sample_format::int16 : sample_format::int32;
    else
        throw scpi_failure(scpi::illegal_parameter_value);
}

void scpi_model::get_format(const program_unit&, std::string& out) { out += format_name(m_format); }

void scpi_model::set_byte_order(const program_unit& unit, std::string&)
{
    const parameter& order = unit.parameters[0];
    if (is_mnemonic(order, "NORMal"))
        m_big_endian = true;
    else if (is_mnemonic(order, "SWAPped"))
        m_big_endian = false;
    else
        throw scpi_failure(scpi::illegal_parameter_value);
}

void scpi_model::get_byte_order(const program_unit&, std::string& out) { out += m_big_endian ? "NORM" : "SWAP"; }

void scpi_model::waveform_data(const program_unit&, std::string& out)
{
    make_room(out, m_points * element_size(m_format));
    append_waveform_block(out, m_points, m_format, m_big_endian, m_noise);
}

void scpi_model::set_trace(const program_unit& unit, std::string& out)
{
    const parameter& block = unit.parameters[0];
    if (block.type != parameter::kind::block)
        throw scpi_failure(scpi::data_type_error);
    if (block.data.size() / element_size(m_format) > static_cast<std::size_t>(max_points))
        throw scpi_failure(scpi::too_much_data);
    std::string values = decode_samples(block.data, m_format, m_big_endian);
    // An indefinite block ("#0") could not be the first of several answers: kept in definite form.
    std::string stored = block.block[1] == '0' ? definite_block(block.data) : std::string(block.block);
    if (!may_hold(out.capacity(), stored_bytes() - m_trace_block.capacity() - m_trace_values.capacity() +
                                      stored.capacity() + values.capacity()))
        throw scpi_failure(scpi::too_much_data);
    m_trace_block = std::move(stored);
    m_trace_values = std::move(values);
}

void scpi_model::get_trace(const program_unit&, std::string& out)
{
    if (m_trace_block.empty()) {
        out += definite_block({});
        return;
    }
    make_room(out, m_trace_block.size());
    out += m_trace_block;
}

void scpi_model::get_trace_values(const program_unit&, std::string& out)
{
    make_room(out, m_trace_values.size());
    out += m_trace_values;
}

} // namespace morvane::sim
