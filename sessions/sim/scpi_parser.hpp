#pragma once
// Splits one program message (the bytes up to END) into program message units. Binary-safe:
// a block parameter is taken by the length in its header, so its data may hold any byte.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::sim {

// Parameters of one unit; more are refused with -223 before they take memory.
inline constexpr std::size_t max_parameters = 100'000;

struct parameter {
    enum class kind { token, string, block };
    kind type = kind::token;
    std::string text;       // token: as sent ("5", "NORM", "5 V" with its suffix); string: unquoted
    std::string_view block; // block: header and data, as sent
    std::string_view data;  // block: the data bytes
};

struct program_unit {
    std::string header;  // "*IDN" or "SYST:ERR", without a leading colon, case as sent
    bool rooted = false; // sent with a leading colon: not relative to the previous command's node
    bool query = false;
    std::vector<parameter> parameters;
};

// The message must outlive the units it yields (blocks are views into it). A malformed unit
// throws scpi_failure (-102, -103, -161 for a block, -223); nothing after it can be trusted.
class message_parser {
public:
    explicit message_parser(std::string_view message) : m_message(message) {}
    // The next unit, or nothing at the end of the message.
    std::optional<program_unit> next();

private:
    bool at_end() const;      // END, or the one final LF
    bool at_unit_end() const; // ";" or the end
    bool at(char c) const { return m_pos < m_message.size() && m_message[m_pos] == c; }
    void skip_white_space();
    std::string mnemonic();
    void parse_header(program_unit& unit);
    parameter parse_block();
    parameter parse_string();
    parameter parse_token();

    std::string_view m_message;
    std::size_t m_pos = 0;
    bool m_done = false;
};

} // namespace morvane::sim
