#include "stream/byte_facets.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>
#include "stream/number_text.hpp"
#include "stream/comio_char_traits.hpp"

namespace {

using mask = std::ctype_base::mask;

bool classic_is(mask m, unsigned char c) { return (std::ctype<char>::classic_table()[c] & m) != 0; }

unsigned char classic_upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }
unsigned char classic_lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

} // namespace

namespace std {

template<> ctype<unsigned char>::~ctype() = default;

template<> bool ctype<unsigned char>::do_is(mask m, unsigned char c) const { return classic_is(m, c); }

template<>
const unsigned char* ctype<unsigned char>::do_is(const unsigned char* low, const unsigned char* high, mask* masks) const
{
    for (; low < high; ++low)
        *masks++ = std::ctype<char>::classic_table()[*low];
    return high;
}

template<>
const unsigned char* ctype<unsigned char>::do_scan_is(mask m, const unsigned char* low, const unsigned char* high) const
{
    return std::find_if(low, high, [m](unsigned char c) { return classic_is(m, c); });
}

template<>
const unsigned char* ctype<unsigned char>::do_scan_not(mask m, const unsigned char* low,
                                                       const unsigned char* high) const
{
    return std::find_if_not(low, high, [m](unsigned char c) { return classic_is(m, c); });
}

template<> unsigned char ctype<unsigned char>::do_toupper(unsigned char c) const { return classic_upper(c); }

template<> const unsigned char* ctype<unsigned char>::do_toupper(unsigned char* low, const unsigned char* high) const
{
    std::transform(low, const_cast<unsigned char*>(high), low, classic_upper);
    return high;
}

template<> unsigned char ctype<unsigned char>::do_tolower(unsigned char c) const { return classic_lower(c); }

template<> const unsigned char* ctype<unsigned char>::do_tolower(unsigned char* low, const unsigned char* high) const
{
    std::transform(low, const_cast<unsigned char*>(high), low, classic_lower);
    return high;
}

template<> unsigned char ctype<unsigned char>::do_widen(char c) const { return static_cast<unsigned char>(c); }

template<> const char* ctype<unsigned char>::do_widen(const char* low, const char* high, unsigned char* to) const
{
    std::transform(low, high, to, [](char c) { return static_cast<unsigned char>(c); });
    return high;
}

template<> char ctype<unsigned char>::do_narrow(unsigned char c, char) const { return static_cast<char>(c); }

template<>
const unsigned char* ctype<unsigned char>::do_narrow(const unsigned char* low, const unsigned char* high, char,
                                                     char* to) const
{
    std::transform(low, high, to, [](unsigned char c) { return static_cast<char>(c); });
    return high;
}

locale::id numpunct<unsigned char>::id;

numpunct<unsigned char>::~numpunct() = default;

numpunct<unsigned char>::string_type numpunct<unsigned char>::do_truename() const
{
    return reinterpret_cast<const unsigned char*>("true");
}

numpunct<unsigned char>::string_type numpunct<unsigned char>::do_falsename() const
{
    return reinterpret_cast<const unsigned char*>("false");
}

} // namespace std

namespace morvane {
namespace {

using flags = std::ios_base;

// Sends the text of one value to the stream's buffer, padded to the stream's width, in bulk
// writes: the buffer sees one call per value (and per run of fill), never one per byte.
// Internal adjustment pads after the first `head` bytes, the sign and base prefix.
void put_text(std::ios_base& io, unsigned char fill, const char* text, std::size_t length, std::size_t head)
{
    // The iterator the stream passes writes byte by byte; its buffer takes the text at once.
    auto& stream = dynamic_cast<std::basic_ios<unsigned char, byte_traits>&>(io);
    const auto count = static_cast<std::streamsize>(length);
    const std::streamsize padding = std::max<std::streamsize>(io.width(0) - count, 0);
    const auto adjust = io.flags() & flags::adjustfield;
    const std::streamsize split = adjust == flags::left       ? count
                                  : adjust == flags::internal ? static_cast<std::streamsize>(head)
                                                              : 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    bool complete = true;
    const auto send = [&](const unsigned char* from, std::streamsize n) {
        if (n > 0 && stream.rdbuf()->sputn(from, n) != n)
            complete = false;
    };
    send(bytes, padding == 0 ? count : split);
    if (padding > 0) {
        std::array<unsigned char, 64> fills;
        fills.fill(fill);
        for (std::streamsize left = padding; left > 0; left -= static_cast<std::streamsize>(fills.size()))
            send(fills.data(), std::min<std::streamsize>(left, fills.size()));
        send(bytes + split, count - split);
    }
    if (!complete)
        stream.setstate(flags::badbit);
}

void to_upper(char* first, char* last)
{
    std::transform(first, last, first,
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
}

template<typename Integer> void put_integer(std::ios_base& io, unsigned char fill, Integer value)
{
    const auto format = io.flags();
    const auto basefield = format & flags::basefield;
    std::array<char, 80> text;
    char* p = text.data();
    char* end = nullptr;
    if (basefield != flags::hex && basefield != flags::oct) {
        if (std::is_signed_v<Integer> && format & flags::showpos && value >= 0)
            *p++ = '+';
        end = std::to_chars(p, text.data() + text.size(), value).ptr;
    } else {
        // As %o and %x do: the bits read as unsigned, the base shown for non-zero values only.
        if (format & flags::showbase && value != 0) {
            *p++ = '0';
            if (basefield == flags::hex)
                *p++ = 'x';
        }
        const auto bits = static_cast<std::make_unsigned_t<Integer>>(value);
        end = std::to_chars(p, text.data() + text.size(), bits, basefield == flags::hex ? 16 : 8).ptr;
        if (format & flags::uppercase)
            to_upper(text.data(), end);
    }
    const std::size_t head = (p - text.data()) + (*p == '-');
    put_text(io, fill, text.data(), end - text.data(), head);
}

template<typename Real> void put_real(std::ios_base& io, unsigned char fill, Real value)
{
    const auto format = io.flags();
    const auto floatfield = format & flags::floatfield;
    const bool hex = floatfield == (flags::fixed | flags::scientific);
    const int precision = io.precision() < 0 ? 6 : static_cast<int>(std::min<std::streamsize>(io.precision(), INT_MAX));
    // Fixed notation of a large value runs to hundreds of digits: the room grows when needed.
    // The first three bytes are kept for a "+" and "0x" in front.
    std::array<char, 96> small;
    std::vector<char> large;
    std::span<char> room(small);
    std::to_chars_result result;
    for (;;) {
        char* const first = room.data() + 3;
        char* const last = room.data() + room.size();
        switch (floatfield) {
        case flags::fixed: result = std::to_chars(first, last, value, std::chars_format::fixed, precision); break;
        case flags::scientific:
            result = std::to_chars(first, last, value, std::chars_format::scientific, precision);
            break;
        case flags::fixed | flags::scientific:
            result = std::to_chars(first, last, value, std::chars_format::hex);
            break;
        default: result = {first + real_text(value, precision, first), std::errc{}};
        }
        if (result.ec == std::errc{})
            break;
        large.resize(room.size() * 8);
        room = large;
    }
    char* start = room.data() + 3;
    const bool negative = *start == '-';
    if (hex && std::isfinite(value)) {
        start -= 2;
        std::copy_n(negative ? "-0x" : "0x", negative ? 3 : 2, start);
    }
    if (format & flags::showpos && !negative)
        *--start = '+';
    if (format & flags::uppercase)
        to_upper(start, result.ptr);
    const std::size_t head = (*start == '+' || *start == '-') + (hex && std::isfinite(value) ? 2 : 0);
    put_text(io, fill, start, result.ptr - start, head);
}

// Number output for byte streams: the text is made in a small char buffer, in the classic
// locale, and reaches the stream buffer in one piece.
class byte_num_put final : public std::num_put<unsigned char, std::ostreambuf_iterator<unsigned char, byte_traits>> {
protected:
    iter_type do_put(iter_type out, std::ios_base& io, char_type fill, bool value) const override
    {
        if (!(io.flags() & flags::boolalpha))
            return do_put(out, io, fill, static_cast<long>(value));
        const auto& punctuation = std::use_facet<std::numpunct<unsigned char>>(io.getloc());
        const auto name = value ? punctuation.truename() : punctuation.falsename();
        put_text(io, fill, reinterpret_cast<const char*>(name.data()), name.size(), 0);
        return out;
    }
    iter_type do_put(iter_type out, std::ios_base& io, char_type fill, long value) const override
    {
        put_integer(io, fill, value);
        return out;
    }
    iter_type do_put(iter_type out, std::ios_base& io, char_type fill, unsigned long value) const override
    {
        put_integer(io, fill, value);
        return out;
    }
    iter_type do_put(iter_type out, std::ios_base& io, char_type fill, long long value) const override
    {
        put_integer(io, fill, value);
        return out;
    }
    iter_type do_put(iter_type out, std::ios_base& io, char_type fill, unsigned long long value) const override
    {
        put_integer(io, fill, value);
        return out;
    }
    iter_type do_put(iter_type out, std::ios_base& io, char_type fill, double value) const override
    {
        put_real(io, fill, value);
        return out;
    }
    iter_type do_put(iter_type out, std::ios_base& io, char_type fill, long double value) const override
    {
        put_real(io, fill, value);
        return out;
    }
    iter_type do_put(iter_type out, std::ios_base& io, char_type fill, const void* value) const override
    {
        std::array<char, 24> text{'0', 'x'};
        char* const end =
            std::to_chars(text.data() + 2, text.data() + text.size(), reinterpret_cast<std::uintptr_t>(value), 16).ptr;
        put_text(io, fill, text.data(), end - text.data(), 2);
        return out;
    }
};

} // namespace

const std::locale& byte_locale()
{
    static const std::locale locale = [] {
        const std::locale with_ctype(std::locale::classic(), new std::ctype<unsigned char>);
        const std::locale with_numpunct(with_ctype, new std::numpunct<unsigned char>);
        return std::locale(with_numpunct, new byte_num_put);
    }();
    return locale;
}

} // namespace morvane
