#include "sim/scpi_error.hpp"

#include <string_view>

namespace morvane::sim {
namespace {

std::string_view message_of(int code)
{
    switch (code) {
    case scpi::no_error: return "No error";
    case scpi::syntax_error: return "Syntax error";
    case scpi::invalid_separator: return "Invalid separator";
    case scpi::data_type_error: return "Data type error";
    case scpi::parameter_not_allowed: return "Parameter not allowed";
    case scpi::missing_parameter: return "Missing parameter";
    case scpi::undefined_header: return "Undefined header";
    case scpi::suffix_not_allowed: return "Suffix not allowed";
    case scpi::invalid_block_data: return "Invalid block data";
    case scpi::init_ignored: return "Init ignored";
    case scpi::data_out_of_range: return "Data out of range";
    case scpi::too_much_data: return "Too much data";
    case scpi::illegal_parameter_value: return "Illegal parameter value";
    case scpi::queue_overflow: return "Queue overflow";
    case scpi::query_interrupted: return "Query INTERRUPTED";
    case scpi::query_unterminated: return "Query UNTERMINATED";
    default: return "Device-specific error";
    }
}

} // namespace

std::string error_entry(int code) { return std::to_string(code) + ",\"" + std::string(message_of(code)) + '"'; }

bool error_queue::push(int code)
{
    if (m_codes.size() < capacity) {
        m_codes.push_back(code);
        return true;
    }
    m_codes.back() = scpi::queue_overflow;
    return false;
}

std::string error_queue::pop()
{
    if (m_codes.empty())
        return error_entry(scpi::no_error);
    const int code = m_codes.front();
    m_codes.pop_front();
    return error_entry(code);
}

} // namespace morvane::sim
