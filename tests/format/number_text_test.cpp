// Number text on the wire: render_number and the byte streams' insertion.
#include <gtest/gtest.h>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iomanip>
#include "stream/number_text.hpp"
#include "format/render_number.hpp"
#include "support/scripted_session.hpp"

namespace morvane::testing {
namespace {

std::string rendered(VARTYPE code, double x)
{
    VARIANT v{};
    V_VT(&v) = code;
    code == VT_I2   ? void(V_I2(&v) = static_cast<SHORT>(x))
    : code == VT_R4 ? void(V_R4(&v) = static_cast<float>(x))
    : code == VT_R8 ? void(V_R8(&v) = x)
                    : void(V_UI1(&v) = static_cast<BYTE>(x));
    scripted_session session;
    basic_comostream out(std::make_unique<comio_buf>(&session, 1000, 1000));
    render_number(out, v, code);
    EXPECT_EQ(out.precision(), code == VT_I2 ? 5 : code == VT_R4 ? 7 : code == VT_R8 ? 15 : 3);
    EXPECT_THROW(render_number(out, v, VT_BSTR), std::invalid_argument);
    out.flush_with_end();
    return session.writes().at(0);
}

TEST(RenderNumber, WritesTheWireTextInAnyProcessLocale)
{
    // Infinities and NaN have no number text: they go out as the values that stand for them.
    // clang-format off
    const struct { VARTYPE code; double x; const char* text; } rows[] = {
        {VT_R4, 12345678, "1.234568e+007"}, {VT_R4, HUGE_VAL, "9.9e+037"}, {VT_R8, -0.0, "0"}, {VT_R8, -2.5, "-2.5"},
        {VT_R8, 999999999999999.9, "1e+015"}, {VT_R8, -HUGE_VAL, "-9.9e+037"}, {VT_R8, -NAN, "9.91e+037"},
        {VT_I2, -32768, "-32768"}, {VT_UI1, 255, "255"},
        // Shortest texts of 16 digits that end in 5 round as the value does: down, and to even on a tie (2^-22).
        {VT_R8, 8.341247578762655, "8.34124757876265"}, {VT_R8, 0x1p-22, "2.38418579101562e-007"},
    };
    // clang-format on
    for (const char* locale : {"C", "German"}) {
        if (!std::setlocale(LC_ALL, locale) || *std::localeconv()->decimal_point != (*locale == 'C' ? '.' : ','))
            std::printf("locale %s is not available: not tested\n", locale);
        else
            for (const auto& row : rows)
                EXPECT_EQ(rendered(row.code, row.x), std::string(row.text) + "\n") << locale << " " << row.x;
    }
    std::setlocale(LC_ALL, "C");
}

// No put area: every byte would reach the buffer through a virtual call of its own.
struct counting_buf final : std::basic_streambuf<unsigned char, byte_traits> {
    std::string bytes;
    int calls = 0;
    // clang-format off
    std::streamsize xsputn(const unsigned char* s, std::streamsize n) override { return ++calls, bytes.append(s, s + n), n; }
    // clang-format on
    int_type overflow(int_type c) override { return ++calls, bytes.push_back(static_cast<char>(c)), c; }
};

TEST(ByteNumPut, HonoursTheFormatFlagsInBulk)
{
    using out = std::basic_ostream<unsigned char, byte_traits>;
    // clang-format off
    const struct { std::function<void(out&)> insert; std::string text; } rows[] = {
        {[](out& s) { s << 1.5 << 1234567.0 << 1e-5L << std::fixed << std::setprecision(3) << 2.5 << std::scientific
                        << std::setprecision(2) << -1234.5 << std::hexfloat << -1.5; }, "1.51.23457e+0061e-0052.500-1.23e+03-0x1.8p+0"},
        {[](out& s) { s << std::fixed << std::setprecision(100) << 0.5; }, "0.5" + std::string(99, '0')},
        // A client that inserts through a byte stream gets the output path's own text, at 15 and 7 digits.
        {[](out& s) { s << std::setprecision(15) << 123456789012345.0 << -2.5e-300 << 0.1 << std::setprecision(7)
                        << 6.02214076e23 << 1e300; }, "123456789012345-2.5e-3000.16.022141e+0231e+300"},
        {[](out& s) { s << std::uppercase << std::showpos << 1e-5 << 5L << 0UL; }, "+1E-005+50"},
        {[](out& s) { s << std::hex << 255L << -1L << std::showbase << 0L << std::uppercase << 255UL << std::oct << 8LL; }, "ffffffffff00XFF010"},
        {[](out& s) { s << LLONG_MIN << ULLONG_MAX << true << false << std::boolalpha << true << false << reinterpret_cast<const void*>(0x1234); },
         "-92233720368547758081844674407370955161510truefalse0x1234"},
        {[](out& s) { s << std::setw(6) << 42L << 7L << std::setw(70) << 1L; s.fill('*'); s << std::left << std::setw(5) << -1.5; },
         "    427" + std::string(69, ' ') + "1-1.5*"},
        {[](out& s) { s << std::internal << std::setw(6) << -42L << std::showbase << std::hex << std::setw(6) << 255L; }, "-   420x  ff"},
    };
    // clang-format on
    for (const auto& row : rows) {
        counting_buf buffer;
        out stream(&buffer);
        stream.imbue(byte_locale());
        row.insert(stream);
        EXPECT_EQ(buffer.bytes, row.text);
        EXPECT_TRUE(stream.good() && buffer.calls <= 8) << "calls: " << buffer.calls;
    }
    // The buffer's exception ends in the stream's bad state and its recorded error.
    scripted_session session;
    session.fail(session_op::write, 1, E_ABORT, L"link down");
    basic_comostream failing(std::make_unique<comio_buf>(&session, 1000, 4));
    EXPECT_TRUE((failing << 123456.0).bad() && failing.last_error());
}

} // namespace
} // namespace morvane::testing
