#pragma once
// A message of the component's string table, loaded by number on first use.
#include <windows.h>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include "error/messages.hpp"

namespace morvane {

class resource_string {
public:
    static constexpr UINT no_fallback = 0xFFFFFFFFu;

    explicit resource_string(UINT number, UINT fallback = no_fallback) noexcept : m_number(number), m_fallback(fallback)
    {}
    explicit resource_string(message_id number) noexcept : resource_string(static_cast<UINT>(number)) {}
    virtual ~resource_string() = default;

    // Loads the text unless already loaded; a missing message leaves it null and is tried again later.
    void load();
    bool loaded() const noexcept { return m_loaded; }

    // Null when the message could not be loaded.
    const char* narrow();
    const wchar_t* wide();

    // Replaces the text by the platform's formatting of it (positional inserts such as
    // %1!d! and %2!s!, lines broken at white space to at most max_width characters, CR LF).
    // Integers must be passed as int and strings as const char*.
    template<typename... Inserts> void format(unsigned max_width, Inserts... inserts)
    {
        static_assert(((std::is_same_v<Inserts, int> || std::is_same_v<Inserts, const char*>)&&...));
        const DWORD_PTR arguments[] = {to_argument(inserts)..., 0};
        format_with(max_width, arguments);
    }

private:
    static DWORD_PTR to_argument(int value) noexcept { return static_cast<DWORD_PTR>(value); }
    static DWORD_PTR to_argument(const char* text) noexcept { return reinterpret_cast<DWORD_PTR>(text); }
    void format_with(unsigned max_width, const DWORD_PTR* arguments);
    void store(const char* narrow_text);

    UINT m_number;
    UINT m_fallback;
    bool m_loaded = false;
    std::optional<std::wstring> m_wide;
    std::optional<std::string> m_narrow; // made from m_wide on first request
};

} // namespace morvane
