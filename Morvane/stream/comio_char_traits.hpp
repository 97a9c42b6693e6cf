#pragma once
// Character traits for bytes. The integer type is a signed 32-bit int and a byte converts
// to 0..255, so no byte value collides with end-of-file (-1).
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <ios>

namespace morvane {

template<typename Char> struct comio_char_traits;

template<> struct comio_char_traits<unsigned char> {
    using char_type = unsigned char;
    using int_type = std::int32_t;
    using off_type = std::streamoff;
    using pos_type = std::streampos;
    using state_type = std::mbstate_t;

    static constexpr void assign(char_type& to, const char_type& from) noexcept { to = from; }
    static constexpr bool eq(char_type a, char_type b) noexcept { return a == b; }
    static constexpr bool lt(char_type a, char_type b) noexcept { return a < b; }

    static int compare(const char_type* a, const char_type* b, std::size_t n) noexcept
    {
        return n ? std::memcmp(a, b, n) : 0;
    }
    static std::size_t length(const char_type* s) noexcept { return std::strlen(reinterpret_cast<const char*>(s)); }
    static const char_type* find(const char_type* s, std::size_t n, const char_type& c) noexcept
    {
        return n ? static_cast<const char_type*>(std::memchr(s, c, n)) : nullptr;
    }
    static char_type* move(char_type* to, const char_type* from, std::size_t n) noexcept
    {
        return n ? static_cast<char_type*>(std::memmove(to, from, n)) : to;
    }
    static char_type* copy(char_type* to, const char_type* from, std::size_t n) noexcept
    {
        return n ? static_cast<char_type*>(std::memcpy(to, from, n)) : to;
    }
    static char_type* assign(char_type* s, std::size_t n, char_type c) noexcept
    {
        return n ? static_cast<char_type*>(std::memset(s, c, n)) : s;
    }

    static constexpr char_type to_char_type(int_type c) noexcept { return static_cast<char_type>(c); }
    static constexpr int_type to_int_type(char_type c) noexcept { return c; }
    static constexpr bool eq_int_type(int_type a, int_type b) noexcept { return a == b; }
    static constexpr int_type eof() noexcept { return -1; }
    static constexpr int_type not_eof(int_type c) noexcept { return c == eof() ? 0 : c; }
};

using byte_traits = comio_char_traits<unsigned char>;

} // namespace morvane
