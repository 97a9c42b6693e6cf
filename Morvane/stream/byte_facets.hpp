#pragma once
// The locale facets for byte streams. The standard library supplies ctype, numpunct and
// num_put only for char and wchar_t; streams of unsigned char need them for their fill
// character and for formatted input and output. Classification and punctuation are the
// classic locale's, widening and narrowing are the identity, and number output follows
// the wire's number text (stream/number_text.hpp), never the process locale.
#include <locale>
#include <string>

namespace std {
// clang-format off
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
// clang-format on

// A whole class rather than members of the primary template: that one's constructor relies
// on initialisation the library provides for char and wchar_t only.
template<> class numpunct<unsigned char> : public locale::facet {
public:
    using char_type = unsigned char;
    using string_type = basic_string<unsigned char>;

    explicit numpunct(size_t refs = 0) : locale::facet(refs) {}

    char_type decimal_point() const { return do_decimal_point(); }
    char_type thousands_sep() const { return do_thousands_sep(); }
    string grouping() const { return do_grouping(); }
    string_type truename() const { return do_truename(); }
    string_type falsename() const { return do_falsename(); }

    static locale::id id;

protected:
    ~numpunct() override;
    virtual char_type do_decimal_point() const { return '.'; }
    virtual char_type do_thousands_sep() const { return ','; }
    virtual string do_grouping() const { return {}; }
    virtual string_type do_truename() const;
    virtual string_type do_falsename() const;
};

} // namespace std

namespace morvane {

// The classic locale with the byte facets added: the locale of every byte stream.
const std::locale& byte_locale();

} // namespace morvane
