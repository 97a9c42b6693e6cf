#include "server/resource_pattern.hpp"

#include <cwctype>
#include <optional>

namespace morvane::sessions {
namespace {

wchar_t upper(wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); }
wchar_t lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); }

// Reads the character at `at`, or the one after a `\`; none at the end or for a NUL.
std::optional<wchar_t> plain(std::wstring_view text, std::size_t& at)
{
    if (at < text.size() && text[at] == L'\\')
        ++at;
    if (at == text.size() || text[at] == 0)
        return std::nullopt;
    return text[at++];
}

} // namespace

resource_pattern::resource_pattern(std::wstring_view expression) : m_fault(compile(expression))
{
    if (m_fault != fault::none) {
        m_states.clear();
        m_ranges.clear();
    }
}

std::int32_t resource_pattern::add(kind what)
{
    m_states.push_back({.what = what});
    return static_cast<std::int32_t>(m_states.size() - 1);
}

// Thompson's construction, left to right: `tail` is the pass state that the next part is
// joined to, and the groups open are kept on a stack of our own, not the call stack.
resource_pattern::fault resource_pattern::compile(std::wstring_view expression)
{
    if (expression.size() > longest_expression)
        return fault::too_long;
    m_states.reserve(3 * expression.size() + 3); // a character, a set or a group makes three at most
    struct group {
        std::int32_t start;  // the pass state before it, which a repeat skips from
        std::int32_t branch; // the state whose `other` leads to its next alternative
        std::int32_t join;   // where its alternatives meet
    };
    // The last character, set or group, while a repeat may follow it.
    struct repeatable {
        std::int32_t start, end, exit = -1;
        wchar_t repeat = 0;
    };
    std::vector<group> groups;
    const std::int32_t entry = add(kind::pass);
    groups.push_back({-1, entry, add(kind::pass)});
    std::int32_t tail = entry;
    std::optional<repeatable> last;

    // One state that takes a character, between pass states for a repeat to join.
    const auto atom = [&](kind what) {
        const std::int32_t start = add(kind::pass);
        m_states[tail].next = start;
        const std::int32_t taking = add(what);
        m_states[start].next = taking;
        tail = add(kind::pass);
        m_states[taking].next = tail;
        last = repeatable{start, tail};
        return taking;
    };

    for (std::size_t at = 0; at < expression.size();) {
        const wchar_t c = expression[at];
        if (c == L'*' || c == L'+') {
            ++at;
            if (!last)
                return fault::malformed;
            if (last->repeat == 0) {
                // `*`: the start may skip to the exit; both: the end may go round again.
                last->exit = add(kind::pass);
                m_states[last->end].next = last->start;
                if (c == L'*')
                    m_states[last->start].other = last->exit;
                else
                    m_states[last->end].other = last->exit;
                tail = last->exit;
                last->repeat = c;
            } else if (c == L'*' && last->repeat == L'+') {
                // Repeating a repeat: once or more stays so, anything else becomes any number.
                m_states[last->start].other = last->exit;
                last->repeat = c;
            }
        } else if (c == L'(') {
            ++at;
            const std::int32_t start = add(kind::pass);
            m_states[tail].next = start;
            tail = add(kind::pass);
            m_states[start].next = tail;
            groups.push_back({start, tail, add(kind::pass)});
            last.reset();
        } else if (c == L'|') {
            ++at;
            m_states[tail].next = groups.back().join;
            tail = add(kind::pass);
            m_states[groups.back().branch].other = tail;
            groups.back().branch = tail;
            last.reset();
        } else if (c == L')') {
            ++at;
            if (groups.size() == 1)
                return fault::malformed;
            const group closed = groups.back();
            groups.pop_back();
            m_states[tail].next = closed.join;
            tail = closed.join;
            last = repeatable{closed.start, closed.join};
        } else if (c == L'?') {
            ++at;
            atom(kind::any);
        } else if (c == L'[') {
            ++at;
            state set{.what = kind::set, .first = static_cast<std::uint32_t>(m_ranges.size())};
            if (at < expression.size() && expression[at] == L'^') {
                set.negated = true;
                ++at;
            }
            // The set ends at its first plain `]`; a `-` between two characters makes a range.
            while (at == expression.size() || expression[at] != L']') {
                const std::optional<wchar_t> lowest = plain(expression, at);
                if (!lowest)
                    return fault::malformed;
                std::optional<wchar_t> highest = lowest;
                if (at + 1 < expression.size() && expression[at] == L'-' && expression[at + 1] != L']') {
                    ++at;
                    highest = plain(expression, at);
                    if (!highest || *highest < *lowest)
                        return fault::malformed;
                }
                m_ranges.push_back({*lowest, *highest});
            }
            ++at;
            set.count = static_cast<std::uint32_t>(m_ranges.size()) - set.first;
            const std::int32_t taking = atom(kind::set);
            set.next = m_states[taking].next;
            m_states[taking] = set;
        } else {
            const std::optional<wchar_t> one = plain(expression, at);
            if (!one)
                return fault::malformed;
            m_states[atom(kind::one)].character = upper(*one);
        }
    }
    if (groups.size() != 1)
        return fault::malformed;
    m_states[tail].next = groups.back().join;
    const std::int32_t accept = add(kind::accept);
    m_states[groups.back().join].next = accept;
    return fault::none;
}

bool resource_pattern::takes(const state& s, wchar_t c) const
{
    switch (s.what) {
    case kind::one: return upper(c) == s.character;
    case kind::any: return true;
    case kind::set:
        for (std::uint32_t i = s.first; i < s.first + s.count; ++i)
            for (const wchar_t form : {c, upper(c), lower(c)})
                if (form >= m_ranges[i].lowest && form <= m_ranges[i].highest)
                    return !s.negated;
        return s.negated;
    default: return false;
    }
}

// Every state the name so far can be in, each taken once a step: the pass states are followed
// on an explicit stack, and `seen` marks what this step has reached already.
bool resource_pattern::matches(std::wstring_view name) const
{
    if (m_fault != fault::none)
        return false;
    std::vector<std::int32_t> current, following, stack;
    std::vector<std::size_t> seen(m_states.size(), 0);
    const auto reach = [&](std::int32_t from, std::size_t step, std::vector<std::int32_t>& into) {
        stack.push_back(from);
        while (!stack.empty()) {
            const std::int32_t s = stack.back();
            stack.pop_back();
            if (s < 0 || seen[s] == step)
                continue;
            seen[s] = step;
            if (m_states[s].what == kind::pass) {
                stack.push_back(m_states[s].other);
                stack.push_back(m_states[s].next);
            } else {
                into.push_back(s);
            }
        }
    };
    reach(0, 1, current);
    for (std::size_t i = 0; i < name.size() && !current.empty(); ++i) {
        following.clear();
        for (const std::int32_t s : current)
            if (takes(m_states[s], name[i]))
                reach(m_states[s].next, i + 2, following);
        current.swap(following);
    }
    for (const std::int32_t s : current)
        if (m_states[s].what == kind::accept)
            return true;
    return false;
}

} // namespace morvane::sessions
