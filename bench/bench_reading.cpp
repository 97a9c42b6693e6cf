// Reading numbers: ReadList of a million values beside a bare std::from_chars loop over the
// same text into a growing std::vector, and ReadNumber calls beside ReadString calls.
#include <windows.h>
#include <charconv>
#include <cmath>
#include <string>
#include "bench_session.hpp"
#include "measure.hpp"
#include "platform/bstr.hpp"
#include "platform/variant.hpp"

namespace {

volatile double read_sum = 0;

template<typename Number> double bare_reading(const std::string& text)
{
    return median_seconds(7, [&] {
        std::vector<Number> values;
        const char* p = text.data();
        const char* end = p + text.size();
        while (p < end) {
            Number value{};
            p = std::from_chars(p, end, value).ptr + 1;
            values.push_back(value);
        }
        read_sum = read_sum + static_cast<double>(values.back());
    });
}

double read_list(IFormattedIO488* io, bench_session& session, const std::string& text, NumberType type)
{
    return median_seconds(7, [&] {
        session.respond(text);
        morvane::unique_variant result;
        check(io->ReadList(type, nullptr, result.get()), "ReadList");
    });
}

} // namespace

void bench_reading(IFormattedIO488* io, bench_session& session)
{
    constexpr std::size_t count = 1'000'000;
    std::string doubles, integers;
    for (std::size_t i = 0; i < count; ++i) {
        char text[32];
        const double real =
            std::ldexp(static_cast<double>((i * 2654435761u) % 1000003) + 0.123456789, int(i % 40) - 20);
        doubles.append(text, std::to_chars(text, text + 32, real, std::chars_format::general, 15).ptr);
        doubles += i + 1 < count ? ',' : '\n';
        const long integer = static_cast<long>((i * 2654435761u) % 2000000011u) - 1000000000;
        integers.append(text, std::to_chars(text, text + 32, integer).ptr);
        integers += i + 1 < count ? ',' : '\n';
    }

    std::printf("%-44s %13s %13s %7s\n", "case", "median", "bare work", "ratio");
    std::size_t peak = 0;
    {
        const std::size_t before = peak_working_set();
        session.respond(doubles);
        morvane::unique_variant first;
        check(io->ReadList(NumberType_R8, nullptr, first.get()), "ReadList");
        peak = peak_working_set() - before;
    }

    const double bare_doubles = bare_reading<double>(doubles);
    const double bare_integers = bare_reading<long>(integers);
    line("ReadList of 1e6 doubles, 1000-byte buffer", read_list(io, session, doubles, NumberType_R8), bare_doubles);
    line("ReadList of 1e6 integers, 1000-byte buffer", read_list(io, session, integers, NumberType_I4), bare_integers);
    check(io->SetBufferSize(BufferMask_Input, 1 << 20), "SetBufferSize");
    line("ReadList of 1e6 doubles, 1 MiB buffer", read_list(io, session, doubles, NumberType_R8), bare_doubles);
    line("ReadList of 1e6 integers, 1 MiB buffer", read_list(io, session, integers, NumberType_I4), bare_integers);
    check(io->SetBufferSize(BufferMask_Input, 1000), "SetBufferSize");
    std::printf("%-44s %10.2f MB %10.2f MB %7.2f\n", "peak memory of the first list read", peak / 1e6,
                doubles.size() / 1e6, double(peak) / double(doubles.size()));

    constexpr int calls = 20000;
    const std::string reply = "1.5\n";
    // clang-format off
    const double number_calls = median_seconds(5, [&] {
        // Made once and cleared before each read: one platform call per number, no more.
        morvane::unique_variant value;
        for (int i = 0; i < calls; ++i) {
            session.respond(reply);
            value.clear();
            io->ReadNumber(NumberType_R8, VARIANT_TRUE, value.get());
            read_sum = read_sum + V_R8(value.get());
        }
    }) / calls;
    const double string_calls = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i) {
            session.respond(reply);
            morvane::unique_bstr text;
            io->ReadString(text.put());
        }
    }) / calls;
    // clang-format on
    std::printf("%-44s %10.0f /s %10.0f /s %7.2f\n", "ReadNumber \"1.5\" beside ReadString", 1 / number_calls,
                1 / string_calls, number_calls / string_calls);
}
