#include "stream/byte_facets.hpp"

#include <algorithm>

namespace {

using mask = std::ctype_base::mask;

bool classic_is(mask m, unsigned char c)
{
    return (std::ctype<char>::classic_table()[c] & m) != 0;
}

unsigned char classic_upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }
unsigned char classic_lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

} // namespace

namespace std {

template <> ctype<unsigned char>::~ctype() = default;

template <> bool ctype<unsigned char>::do_is(mask m, unsigned char c) const
{
    return classic_is(m, c);
}

template <> const unsigned char* ctype<unsigned char>::do_is(const unsigned char* low, const unsigned char* high,
                                                             mask* masks) const
{
    for (; low < high; ++low)
        *masks++ = std::ctype<char>::classic_table()[*low];
    return high;
}

template <> const unsigned char* ctype<unsigned char>::do_scan_is(mask m, const unsigned char* low,
                                                                  const unsigned char* high) const
{
    return std::find_if(low, high, [m](unsigned char c) { return classic_is(m, c); });
}

template <> const unsigned char* ctype<unsigned char>::do_scan_not(mask m, const unsigned char* low,
                                                                   const unsigned char* high) const
{
    return std::find_if_not(low, high, [m](unsigned char c) { return classic_is(m, c); });
}

template <> unsigned char ctype<unsigned char>::do_toupper(unsigned char c) const
{
    return classic_upper(c);
}

template <> const unsigned char* ctype<unsigned char>::do_toupper(unsigned char* low, const unsigned char* high) const
{
    std::transform(low, const_cast<unsigned char*>(high), low, classic_upper);
    return high;
}

template <> unsigned char ctype<unsigned char>::do_tolower(unsigned char c) const
{
    return classic_lower(c);
}

template <> const unsigned char* ctype<unsigned char>::do_tolower(unsigned char* low, const unsigned char* high) const
{
    std::transform(low, const_cast<unsigned char*>(high), low, classic_lower);
    return high;
}

template <> unsigned char ctype<unsigned char>::do_widen(char c) const
{
    return static_cast<unsigned char>(c);
}

template <> const char* ctype<unsigned char>::do_widen(const char* low, const char* high, unsigned char* to) const
{
    std::transform(low, high, to, [](char c) { return static_cast<unsigned char>(c); });
    return high;
}

template <> char ctype<unsigned char>::do_narrow(unsigned char c, char) const
{
    return static_cast<char>(c);
}

template <> const unsigned char* ctype<unsigned char>::do_narrow(const unsigned char* low, const unsigned char* high,
                                                                 char, char* to) const
{
    std::transform(low, high, to, [](unsigned char c) { return static_cast<char>(c); });
    return high;
}

} // namespace std

namespace morvane {

const std::locale& byte_locale()
{
    static const std::locale locale(std::locale::classic(), new std::ctype<unsigned char>);
    return locale;
}

} // namespace morvane
