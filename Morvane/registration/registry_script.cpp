#include "registration/registry_script.hpp"

#include <windows.h>
#include <cwctype>

namespace morvane::registry {
namespace {

bool same_text(std::wstring_view a, std::wstring_view b) noexcept
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

struct malformed {};

struct token {
    std::wstring text;
    bool quoted = false;

    // A keyword or punctuation is never quoted.
    bool is(std::wstring_view word) const noexcept { return !quoted && same_text(text, word); }
};

class lexer {
public:
    explicit lexer(std::wstring_view text) noexcept : m_text(text) {}

    bool at_end()
    {
        skip_space();
        return m_position == m_text.size();
    }

    token next()
    {
        if (at_end())
            throw malformed{};
        token result;
        if (m_text[m_position] == L'\'') {
            result.quoted = true;
            for (++m_position;; ++m_position) {
                if (m_position == m_text.size())
                    throw malformed{};
                if (m_text[m_position] == L'\'') {
                    if (m_position + 1 < m_text.size() && m_text[m_position + 1] == L'\'')
                        ++m_position;
                    else
                        break;
                }
                result.text += m_text[m_position];
            }
            ++m_position;
        } else {
            while (m_position < m_text.size() && !std::iswspace(m_text[m_position]))
                result.text += m_text[m_position++];
        }
        return result;
    }

    // Looks at the next token without taking it.
    bool next_is(std::wstring_view word)
    {
        lexer ahead = *this;
        return !ahead.at_end() && ahead.next().is(word);
    }

    token expect(std::wstring_view word)
    {
        token result = next();
        if (!result.is(word))
            throw malformed{};
        return result;
    }

private:
    void skip_space() noexcept
    {
        while (m_position < m_text.size() && std::iswspace(m_text[m_position]))
            ++m_position;
    }

    std::wstring_view m_text;
    std::size_t m_position = 0;
};

// A key or value name: no punctuation, nothing empty, and no path separator, so every key
// of the tree is one level below its parent.
std::wstring name_from(token name)
{
    if (name.is(L"{") || name.is(L"}") || name.is(L"=") || name.text.empty() ||
        name.text.find(L'\\') != std::wstring::npos)
        throw malformed{};
    return std::move(name.text);
}

std::wstring string_value(lexer& input)
{
    input.expect(L"s");
    token data = input.next();
    if (!data.quoted)
        throw malformed{};
    return std::move(data.text);
}

void parse_body(lexer& input, script_key& parent);

script_key parse_key(lexer& input, token first)
{
    script_key key;
    if (first.is(L"NoRemove")) {
        key.mark = marker::no_remove;
        first = input.next();
    } else if (first.is(L"ForceRemove")) {
        key.mark = marker::force_remove;
        first = input.next();
    }
    key.name = name_from(std::move(first));
    // A key ends at its value, its body or the next entry.
    if (input.next_is(L"=")) {
        input.expect(L"=");
        key.value = string_value(input);
    }
    if (input.next_is(L"{")) {
        input.expect(L"{");
        parse_body(input, key);
    }
    return key;
}

// Entries up to and including the closing brace.
void parse_body(lexer& input, script_key& parent)
{
    for (;;) {
        token first = input.next();
        if (first.is(L"}"))
            return;
        if (first.is(L"val")) {
            named_value value;
            value.name = name_from(input.next());
            input.expect(L"=");
            value.data = string_value(input);
            parent.values.push_back(std::move(value));
        } else {
            parent.subkeys.push_back(parse_key(input, std::move(first)));
        }
    }
}

} // namespace

std::optional<std::wstring> replace_tokens(std::wstring_view script, std::span<const replacement> replacements)
{
    std::wstring result;
    for (std::size_t position = 0; position < script.size();) {
        const std::size_t start = script.find(L'%', position);
        if (start == std::wstring_view::npos) {
            result += script.substr(position);
            break;
        }
        result += script.substr(position, start - position);
        const std::size_t end = script.find(L'%', start + 1);
        if (end == std::wstring_view::npos)
            return std::nullopt;
        const std::wstring_view name = script.substr(start + 1, end - start - 1);
        if (name.empty()) {
            result += L'%';
        } else {
            const replacement* found = nullptr;
            for (const replacement& candidate : replacements)
                if (same_text(candidate.name, name))
                    found = &candidate;
            if (!found)
                return std::nullopt;
            result += found->value;
        }
        position = end + 1;
    }
    return result;
}

std::optional<std::vector<script_key>> parse_script(std::wstring_view script)
{
    try {
        lexer input(script);
        script_key roots;
        while (!input.at_end()) {
            const token root = input.next();
            if (!root.is(L"HKCR") && !root.is(L"HKEY_CLASSES_ROOT"))
                throw malformed{};
            input.expect(L"{");
            script_key keys;
            parse_body(input, keys);
            // Values directly under a root would belong to HKEY_CLASSES_ROOT itself.
            if (!keys.values.empty())
                throw malformed{};
            for (script_key& key : keys.subkeys)
                roots.subkeys.push_back(std::move(key));
        }
        return std::move(roots.subkeys);
    } catch (const malformed&) {
        return std::nullopt;
    }
}

} // namespace morvane::registry
