#pragma once
// FindResources' expressions: `?` is any one character, `*` repeats what comes before it
// (so `?*` is anything), `+` once or more, `[...]` a set (`a-z` ranges, `^` first negates),
// `(a|b)` alternatives, `\` makes the next character plain; letters match in either case;
// the whole name must match.
//
// An expression compiles, without recursion, to an automaton of at most three states a
// character, and a name is matched by following every state it could be in at once: at most
// (name length + 1) x states steps, whatever the expression, and no backtracking.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace morvane::sessions {

class resource_pattern {
public:
    // Longer expressions are refused: the bound on the automaton, and so on a match's cost.
    static constexpr std::size_t longest_expression = 1000;

    enum class fault { none, malformed, too_long };

    explicit resource_pattern(std::wstring_view expression);

    // Why the expression was refused; a refused one matches nothing.
    fault refusal() const noexcept { return m_fault; }
    bool matches(std::wstring_view name) const;

private:
    enum class kind : std::uint8_t { pass, one, any, set, accept };
    struct state {
        kind what = kind::pass;
        bool negated = false;    // set: matches what its ranges do not
        wchar_t character = 0;   // one: upper case
        std::uint32_t first = 0; // set: its ranges are m_ranges[first, first + count)
        std::uint32_t count = 0;
        std::int32_t next = -1;  // pass: where it leads, without a character; others: after one
        std::int32_t other = -1; // pass: a second way on
    };
    struct range {
        wchar_t lowest, highest;
    };

    fault compile(std::wstring_view expression);
    std::int32_t add(kind what);
    bool takes(const state& s, wchar_t c) const;

    std::vector<state> m_states; // m_states[0] is the entry
    std::vector<range> m_ranges;
    fault m_fault = fault::none;
};

} // namespace morvane::sessions
