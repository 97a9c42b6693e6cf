#pragma once
// The character classification facet for byte streams. The standard library supplies
// ctype only for char and wchar_t; streams of unsigned char need it for their fill
// character and for formatted input and output. Classification is the classic locale's,
// and widening and narrowing are the identity.
#include <locale>

namespace std {
template <> ctype<unsigned char>::~ctype();
template <> bool ctype<unsigned char>::do_is(mask m, unsigned char c) const;
template <> const unsigned char* ctype<unsigned char>::do_is(const unsigned char* low, const unsigned char* high,
                                                             mask* masks) const;
template <> const unsigned char* ctype<unsigned char>::do_scan_is(mask m, const unsigned char* low,
                                                                  const unsigned char* high) const;
template <> const unsigned char* ctype<unsigned char>::do_scan_not(mask m, const unsigned char* low,
                                                                   const unsigned char* high) const;
template <> unsigned char ctype<unsigned char>::do_toupper(unsigned char c) const;
template <> const unsigned char* ctype<unsigned char>::do_toupper(unsigned char* low, const unsigned char* high) const;
template <> unsigned char ctype<unsigned char>::do_tolower(unsigned char c) const;
template <> const unsigned char* ctype<unsigned char>::do_tolower(unsigned char* low, const unsigned char* high) const;
template <> unsigned char ctype<unsigned char>::do_widen(char c) const;
template <> const char* ctype<unsigned char>::do_widen(const char* low, const char* high, unsigned char* to) const;
template <> char ctype<unsigned char>::do_narrow(unsigned char c, char fallback) const;
template <> const unsigned char* ctype<unsigned char>::do_narrow(const unsigned char* low, const unsigned char* high,
                                                                 char fallback, char* to) const;
} // namespace std

namespace morvane {

// The classic locale with the byte facets added: the locale of every byte stream.
const std::locale& byte_locale();

} // namespace morvane
