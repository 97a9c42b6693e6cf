#pragma once
// The rules that cut a response into tokens, as one deterministic automaton over bytes.
// A state's rule is the lowest-numbered rule that accepts there; the scanner keeps the longest
// accepted prefix, so a tie goes to the rule listed first.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvane {

enum scan_rule : std::uint8_t {
    no_rule,
    integer_rule,   // blanks, optional sign, blanks, digits, blanks
    separator_rule, // ","
    real_rule,      // digits "." digits-or-none blanks; blanks, sign, blanks, digits-or-none "." digits
    exponent_rule,  // an integer or real, then E or e, blanks, optional sign, blanks, digits, blanks
    newline_rule,   // LF
    string_rule,    // one byte 0x00-0x7F other than LF, CR and ","
    initial_rule,   // the initial condition's only rule: one byte 0x00-0x7F other than LF
};

enum class scan_condition : std::uint8_t { initial, response };

// The tables, built by the compiler; the scanner steps through them inline, byte by byte.
struct scan_tables {
    static constexpr std::size_t class_count = 10;
    static constexpr std::size_t state_capacity = 48;
    std::uint8_t byte_class[256];
    std::uint8_t next[state_capacity][class_count];
    scan_rule rule[state_capacity];
    bool grows[state_capacity];
    std::uint8_t start[2];
    std::size_t count;
};
extern const scan_tables scan_table;

class scan_automaton {
public:
    using state = std::uint8_t;
    static constexpr state dead = 0;

    static state start(scan_condition condition) noexcept { return scan_table.start[int(condition)]; }
    // clang-format off
    static state next(state from, unsigned char byte) noexcept { return scan_table.next[from][scan_table.byte_class[byte]]; }
    // clang-format on
    // The rule that accepts in `s`, or no_rule.
    static scan_rule rule(state s) noexcept { return scan_table.rule[s]; }
    // Whether any byte leads out of `s` to a live state.
    static bool can_grow(state s) noexcept { return scan_table.grows[s]; }

    // The longest prefix of `text` that a rule accepts, as the scanner finds it; for tests.
    struct match {
        scan_rule rule;
        std::size_t length;
    };
    static match longest(scan_condition condition, std::string_view text) noexcept;
};

} // namespace morvane
