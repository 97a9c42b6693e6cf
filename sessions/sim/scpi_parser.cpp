#include "sim/scpi_parser.hpp"

#include "sim/scpi_error.hpp"

namespace morvane::sim {
namespace {

// IEEE 488.2 white space: every control byte and space except LF, which only ends a message.
bool is_white_space(char c) { return static_cast<unsigned char>(c) <= 0x20 && c != '\n'; }
bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void fail(int code) { throw scpi_failure(code); }

} // namespace

bool message_parser::at_end() const
{
    return m_pos == m_message.size() || (m_pos + 1 == m_message.size() && m_message[m_pos] == '\n');
}

bool message_parser::at_unit_end() const { return at(';') || at_end(); }

void message_parser::skip_white_space()
{
    while (m_pos < m_message.size() && is_white_space(m_message[m_pos]))
        ++m_pos;
}

std::optional<program_unit> message_parser::next()
{
    if (m_done)
        return std::nullopt;
    const bool first = m_pos == 0;
    skip_white_space();
    if (first && at_end()) {
        m_done = true; // an empty message is allowed and does nothing
        return std::nullopt;
    }
    program_unit unit;
    parse_header(unit);
    if (m_pos < m_message.size() && is_white_space(m_message[m_pos])) {
        skip_white_space();
        while (!at_unit_end()) {
            if (unit.parameters.size() == max_parameters)
                fail(scpi::too_much_data);
            if (at('#'))
                unit.parameters.push_back(parse_block());
            else if (at('"') || at('\''))
                unit.parameters.push_back(parse_string());
            else
                unit.parameters.push_back(parse_token());
            skip_white_space();
            if (!at(',')) {
                if (!at_unit_end() && !at('\n')) // a line feed inside the message is a syntax error below
                    fail(scpi::invalid_separator);
                break;
            }
            ++m_pos;
            skip_white_space();
            if (at_unit_end())
                fail(scpi::syntax_error); // a comma with no parameter after it
        }
    }
    if (at(';'))
        ++m_pos;
    else if (at_end())
        m_done = true;
    else
        fail(scpi::syntax_error);
    return unit;
}

std::string message_parser::mnemonic()
{
    const std::size_t start = m_pos;
    if (m_pos < m_message.size() && is_alpha(m_message[m_pos]))
        ++m_pos;
    else
        fail(scpi::syntax_error);
    while (m_pos < m_message.size() &&
           (is_alpha(m_message[m_pos]) || is_digit(m_message[m_pos]) || m_message[m_pos] == '_'))
        ++m_pos;
    return std::string(m_message.substr(start, m_pos - start));
}

void message_parser::parse_header(program_unit& unit)
{
    if (at('*')) {
        ++m_pos;
        unit.header = '*' + mnemonic();
    } else {
        if (at(':')) {
            unit.rooted = true;
            ++m_pos;
        }
        unit.header = mnemonic();
        while (at(':')) {
            ++m_pos;
            unit.header += ':' + mnemonic();
        }
    }
    if (at('?')) {
        unit.query = true;
        ++m_pos;
    }
}

parameter message_parser::parse_block()
{
    const std::size_t start = m_pos++;
    if (at('0')) {
        // Indefinite: the data runs to END, and a line feed sent with END ends it, not being data.
        const std::size_t end = m_message.size() - m_message.ends_with('\n');
        parameter block{parameter::kind::block,
                        {},
                        m_message.substr(start, end - start),
                        m_message.substr(m_pos + 1, end - m_pos - 1)};
        m_pos = end;
        return block;
    }
    if (m_pos >= m_message.size() || m_message[m_pos] < '1' || m_message[m_pos] > '9')
        fail(scpi::invalid_block_data);
    const std::size_t digits = static_cast<std::size_t>(m_message[m_pos++] - '0');
    if (m_message.size() - m_pos < digits)
        fail(scpi::invalid_block_data);
    std::size_t length = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = m_message[m_pos++];
        if (!is_digit(c))
            fail(scpi::invalid_block_data);
        length = length * 10 + static_cast<std::size_t>(c - '0'); // 9 digits at most: no overflow
    }
    if (m_message.size() - m_pos < length)
        fail(scpi::invalid_block_data);
    parameter block{parameter::kind::block, {}, {}, m_message.substr(m_pos, length)};
    m_pos += length;
    block.block = m_message.substr(start, m_pos - start);
    // Data must end where the header says: anything but a separator or the end means it did not.
    const std::string_view rest = m_message.substr(m_pos);
    if (!(at(',') || at(';') || rest.empty() || rest == "\n" || rest == "\r\n"))
        fail(scpi::invalid_block_data);
    return block;
}

parameter message_parser::parse_string()
{
    const char quote = m_message[m_pos++];
    parameter string{parameter::kind::string, {}, {}, {}};
    for (;;) {
        if (m_pos >= m_message.size())
            fail(scpi::syntax_error);
        const char c = m_message[m_pos++];
        if (c == quote) {
            if (!at(quote))
                return string;
            ++m_pos; // a doubled quote stands for one
        }
        string.text.push_back(c);
    }
}

parameter message_parser::parse_token()
{
    const auto ends_token = [this](std::size_t at) {
        const char c = m_message[at];
        return is_white_space(c) || c == ',' || c == ';' || c == '\n';
    };
    const std::size_t start = m_pos;
    while (m_pos < m_message.size() && !ends_token(m_pos))
        ++m_pos;
    if (m_pos == start)
        fail(scpi::syntax_error); // as in "1,,2"
    std::string text(m_message.substr(start, m_pos - start));
    // A number may be followed by white space and its suffix ("5 V"): one parameter, whose
    // command judges the suffix.
    std::size_t suffix = m_pos;
    while (suffix < m_message.size() && is_white_space(m_message[suffix]))
        ++suffix;
    if (!is_alpha(text.front()) && suffix > m_pos && suffix < m_message.size() && is_alpha(m_message[suffix])) {
        for (m_pos = suffix; m_pos < m_message.size() && !ends_token(m_pos); ++m_pos) {}
        text += ' ' + std::string(m_message.substr(suffix, m_pos - suffix));
    }
    return {parameter::kind::token, std::move(text), {}, {}};
}

} // namespace morvane::sim
