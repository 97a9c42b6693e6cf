// The automaton is built by the compiler from the rules written out below as sequences of
// byte classes, by the subset construction: each state is the set of rule positions that the
// bytes so far can have reached. Nothing of it runs when the module loads.
#include "parse/scan_rules.hpp"

#include <array>

namespace morvane {
namespace {

enum byte_class : std::uint8_t {
    blank,           // 0x00-0x20 but LF and CR
    carriage_return, // a blank that starts no string
    digit,
    sign,
    point,
    exponent_mark,
    comma,
    line_feed,
    other, // the rest of 0x21-0x7F
    high,  // 0x80-0xFF: starts nothing
    class_count
};

constexpr byte_class class_of(unsigned char byte) noexcept
{
    if (byte >= 0x80)
        return high;
    if (byte == '\n')
        return line_feed;
    if (byte == '\r')
        return carriage_return;
    if (byte <= 0x20)
        return blank;
    if (byte >= '0' && byte <= '9')
        return digit;
    switch (byte) {
    case '+':
    case '-': return sign;
    case '.': return point;
    case 'e':
    case 'E': return exponent_mark;
    case ',': return comma;
    default: return other;
    }
}

using class_set = std::uint16_t;
constexpr class_set of(byte_class c) noexcept { return class_set(1u << c); }
constexpr class_set blanks = of(blank) | of(carriage_return);
constexpr class_set digits = of(digit);
constexpr class_set signs = of(sign);
constexpr class_set points = of(point);
constexpr class_set exponent_marks = of(exponent_mark);
constexpr class_set string_starts = of(blank) | digits | signs | points | exponent_marks | of(other);
constexpr class_set initial_bytes = class_set((1u << class_count) - 1) & ~of(line_feed) & ~of(high);

enum repeat : std::uint8_t { once, optional, any };
struct item {
    class_set classes;
    repeat times;
};

constexpr std::size_t longest_sequence = 16;
struct sequence {
    scan_rule rule;
    scan_condition condition;
    std::array<item, longest_sequence> items{};
    std::size_t length = 0;
};

constexpr sequence rule_of(scan_rule rule, std::initializer_list<std::initializer_list<item>> parts,
                           scan_condition condition = scan_condition::response)
{
    sequence s{rule, condition};
    for (const auto& part : parts)
        for (const item& i : part)
            s.items[s.length++] = i;
    return s;
}

// "Digits" is one digit and any more.
constexpr std::initializer_list<item> integer_body = {{blanks, any},  {signs, optional}, {blanks, any},
                                                      {digits, once}, {digits, any},     {blanks, any}};
constexpr std::initializer_list<item> real_body_digits_first = {
    {digits, once}, {digits, any}, {points, once}, {digits, any}, {blanks, any}};
constexpr std::initializer_list<item> real_body_signed = {
    {blanks, any}, {signs, optional}, {blanks, any}, {digits, any}, {points, once}, {digits, once}, {digits, any}};
constexpr std::initializer_list<item> exponent_tail = {{exponent_marks, once}, {blanks, any},  {signs, optional},
                                                       {blanks, any},          {digits, once}, {digits, any},
                                                       {blanks, any}};

constexpr std::array<sequence, 10> rules = {
    rule_of(integer_rule, {integer_body}),
    rule_of(separator_rule, {{{of(comma), once}}}),
    rule_of(real_rule, {real_body_digits_first}),
    rule_of(real_rule, {real_body_signed}),
    rule_of(exponent_rule, {integer_body, exponent_tail}),
    rule_of(exponent_rule, {real_body_digits_first, exponent_tail}),
    rule_of(exponent_rule, {real_body_signed, exponent_tail}),
    rule_of(newline_rule, {{{of(line_feed), once}}}),
    rule_of(string_rule, {{{string_starts, once}}}),
    rule_of(initial_rule, {{{initial_bytes, once}}}, scan_condition::initial),
};

// A set of rule positions: position p of rule r means its first p items are matched.
struct positions {
    static constexpr std::size_t stride = longest_sequence + 1;
    std::array<bool, rules.size() * stride> at{};

    constexpr bool operator==(const positions&) const = default;
    constexpr bool empty() const
    {
        for (bool b : at)
            if (b)
                return false;
        return true;
    }
    // Items that may be absent are stepped over.
    constexpr positions closed() const
    {
        positions result = *this;
        for (std::size_t r = 0; r < rules.size(); ++r)
            for (std::size_t p = 0; p < rules[r].length; ++p)
                if (result.at[r * stride + p] && rules[r].items[p].times != once)
                    result.at[r * stride + p + 1] = true;
        return result;
    }
    constexpr positions after(byte_class c) const
    {
        positions result;
        for (std::size_t r = 0; r < rules.size(); ++r)
            for (std::size_t p = 0; p < rules[r].length; ++p)
                if (at[r * stride + p] && (rules[r].items[p].classes & of(c)))
                    result.at[r * stride + p + (rules[r].items[p].times == any ? 0 : 1)] = true;
        return result.closed();
    }
    constexpr scan_rule accepted() const
    {
        scan_rule best = no_rule;
        for (std::size_t r = 0; r < rules.size(); ++r)
            if (at[r * stride + rules[r].length] && (best == no_rule || rules[r].rule < best))
                best = rules[r].rule;
        return best;
    }
};

constexpr std::size_t state_capacity = scan_tables::state_capacity;
static_assert(class_count == scan_tables::class_count);

constexpr scan_tables build()
{
    std::array<positions, state_capacity> sets{};
    scan_tables t{};
    for (int byte = 0; byte < 256; ++byte)
        t.byte_class[byte] = class_of(static_cast<unsigned char>(byte));
    t.count = 1; // state 0, the empty set, is the dead state
    const auto state_of = [&](const positions& set) {
        for (std::size_t s = 0; s < t.count; ++s)
            if (sets[s] == set)
                return static_cast<std::uint8_t>(s);
        if (t.count == state_capacity)
            throw "more states than the tables hold";
        sets[t.count] = set;
        return static_cast<std::uint8_t>(t.count++);
    };
    for (scan_condition condition : {scan_condition::initial, scan_condition::response}) {
        positions start;
        for (std::size_t r = 0; r < rules.size(); ++r)
            if (rules[r].condition == condition)
                start.at[r * positions::stride] = true;
        t.start[static_cast<std::size_t>(condition)] = state_of(start.closed());
    }
    for (std::size_t s = 1; s < t.count; ++s) {
        for (std::uint8_t c = 0; c < class_count; ++c) {
            const positions to = sets[s].after(static_cast<byte_class>(c));
            t.next[s][c] = to.empty() ? 0 : state_of(to);
            t.grows[s] = t.grows[s] || t.next[s][c] != 0;
        }
        t.rule[s] = sets[s].accepted();
    }
    return t;
}

} // namespace

constexpr scan_tables scan_table = build();

scan_automaton::match scan_automaton::longest(scan_condition condition, std::string_view text) noexcept
{
    match found{no_rule, 0};
    state s = start(condition);
    for (std::size_t i = 0; i < text.size() && can_grow(s); ++i) {
        s = next(s, static_cast<unsigned char>(text[i]));
        if (s == dead)
            break;
        if (rule(s) != no_rule)
            found = {rule(s), i + 1};
    }
    return found;
}

} // namespace morvane
