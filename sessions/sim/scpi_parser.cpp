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
    return pos_ == message_.size() || (pos_ + 1 == message_.size() && message_[pos_] == '\n');
}

bool message_parser::at_unit_end() const { return at(';') || at_end(); }

void message_parser::skip_white_space()
{
    while (pos_ < message_.size() && is_white_space(message_[pos_]))
        ++pos_;
}

std::optional<program_unit> message_parser::next()
{
    if (done_)
        return std::nullopt;
    const bool first = pos_ == 0;
    skip_white_space();
    if (first && at_end()) {
        done_ = true; // an empty message is allowed and does nothing
        return std::nullopt;
    }
    program_unit unit;
    parse_header(unit);
    if (pos_ < message_.size() && is_white_space(message_[pos_])) {
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
            ++pos_;
            skip_white_space();
            if (at_unit_end())
                fail(scpi::syntax_error); // a comma with no parameter after it
        }
    }
    if (at(';'))
        ++pos_;
    else if (at_end())
        done_ = true;
    else
        fail(scpi::syntax_error);
    return unit;
}

std::string message_parser::mnemonic()
{
    const std::size_t start = pos_;
    if (pos_ < message_.size() && is_alpha(message_[pos_]))
        ++pos_;
    else
        fail(scpi::syntax_error);
    while (pos_ < message_.size() && (is_alpha(message_[pos_]) || is_digit(message_[pos_]) || message_[pos_] == '_'))
        ++pos_;
    return std::string(message_.substr(start, pos_ - start));
}

void message_parser::parse_header(program_unit& unit)
{
    if (at('*')) {
        ++pos_;
        unit.header = '*' + mnemonic();
    } else {
        if (at(':')) {
            unit.rooted = true;
            ++pos_;
        }
        unit.header = mnemonic();
        while (at(':')) {
            ++pos_;
            unit.header += ':' + mnemonic();
        }
    }
    if (at('?')) {
        unit.query = true;
        ++pos_;
    }
}

parameter message_parser::parse_block()
{
    const std::size_t start = pos_++;
    if (at('0')) {
        // Indefinite: the data runs to END, and a line feed sent with END ends it, not being data.
        const std::size_t end = message_.size() - message_.ends_with('\n');
        parameter block{parameter::kind::block, {}, message_.substr(start, end - start),
                        message_.substr(pos_ + 1, end - pos_ - 1)};
        pos_ = end;
        return block;
    }
    if (pos_ >= message_.size() || message_[pos_] < '1' || message_[pos_] > '9')
        fail(scpi::invalid_block_data);
    const std::size_t digits = static_cast<std::size_t>(message_[pos_++] - '0');
    if (message_.size() - pos_ < digits)
        fail(scpi::invalid_block_data);
    std::size_t length = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = message_[pos_++];
        if (!is_digit(c))
            fail(scpi::invalid_block_data);
        length = length * 10 + static_cast<std::size_t>(c - '0'); // 9 digits at most: no overflow
    }
    if (message_.size() - pos_ < length)
        fail(scpi::invalid_block_data);
    parameter block{parameter::kind::block, {}, {}, message_.substr(pos_, length)};
    pos_ += length;
    block.block = message_.substr(start, pos_ - start);
    // Data must end where the header says: anything but a separator or the end means it did not.
    const std::string_view rest = message_.substr(pos_);
    if (!(at(',') || at(';') || rest.empty() || rest == "\n" || rest == "\r\n"))
        fail(scpi::invalid_block_data);
    return block;
}

parameter message_parser::parse_string()
{
    const char quote = message_[pos_++];
    parameter string{parameter::kind::string, {}, {}, {}};
    for (;;) {
        if (pos_ >= message_.size())
            fail(scpi::syntax_error);
        const char c = message_[pos_++];
        if (c == quote) {
            if (!at(quote))
                return string;
            ++pos_; // a doubled quote stands for one
        }
        string.text.push_back(c);
    }
}

parameter message_parser::parse_token()
{
    const auto ends_token = [this](std::size_t at) {
        const char c = message_[at];
        return is_white_space(c) || c == ',' || c == ';' || c == '\n';
    };
    const std::size_t start = pos_;
    while (pos_ < message_.size() && !ends_token(pos_))
        ++pos_;
    if (pos_ == start)
        fail(scpi::syntax_error); // as in "1,,2"
    std::string text(message_.substr(start, pos_ - start));
    // A number may be followed by white space and its suffix ("5 V"): one parameter, whose
    // command judges the suffix.
    std::size_t suffix = pos_;
    while (suffix < message_.size() && is_white_space(message_[suffix]))
        ++suffix;
    if (!is_alpha(text.front()) && suffix > pos_ && suffix < message_.size() && is_alpha(message_[suffix])) {
        for (pos_ = suffix; pos_ < message_.size() && !ends_token(pos_); ++pos_) {
        }
        text += ' ' + std::string(message_.substr(suffix, pos_ - suffix));
    }
    return {parameter::kind::token, std::move(text), {}, {}};
}

} // namespace morvane::sim
