// Blocks: WriteIEEEBlock and ReadIEEEBlock of 100 MiB of floats, in both byte orders, beside one
// memcpy of as many bytes into new memory. A read's result is new memory too, and so is the
// array that the session makes for the data, as a real session does.
#include <windows.h>
#include <oleauto.h>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include "bench_session.hpp"
#include "measure.hpp"
#include "new_vector.hpp"
#include "platform/safearray.hpp"
#include "platform/variant.hpp"

namespace {

volatile unsigned char copied = 0;

} // namespace

void bench_blocks(IFormattedIO488* io, bench_session& session)
{
    constexpr int runs = 7;
    constexpr std::size_t size = 100u << 20;
    const morvane::unique_safearray floats = new_vector(VT_R4, size / sizeof(float));
    const morvane::safearray_data float_data(floats.get());
    float* const values = elements<float>(float_data);
    for (std::size_t i = 0; i < size / sizeof(float); ++i)
        values[i] = static_cast<float>(i) * 0.25f;
    VARIANT data;
    V_VT(&data) = VT_ARRAY | VT_R4;
    V_ARRAY(&data) = floats.get(); // lent, not owned
    // The instrument's answer: the same floats, big-endian, and a line feed.
    std::string response = "#9" + std::to_string(size);
    const std::size_t header = response.size();
    response.resize(header + size + 1, '\n');
    for (std::size_t i = 0; i < size; ++i)
        response[header + i] = reinterpret_cast<const char*>(values)[i - i % 4 + 3 - i % 4];

    const auto read_block = [&] {
        session.lend(response);
        morvane::unique_variant result;
        check(io->ReadIEEEBlock(NumberType_R4, VARIANT_FALSE, VARIANT_FALSE, result.get()), "ReadIEEEBlock");
        return result;
    };
    // The first read, while the peak memory is that of the floats and the response: the
    // session's array is part of what the read holds.
    double peak = 0;
    {
        const std::size_t before = peak_working_set();
        morvane::unique_variant first = read_block();
        peak = static_cast<double>(peak_working_set() - before) / size;
        if (std::memcmp(morvane::safearray_data(V_ARRAY(first.get())).bytes(), values, size) != 0) {
            std::printf("ReadIEEEBlock returned other floats\n");
            std::exit(1);
        }
    }

    const double bare = median_seconds(runs, [&] {
        auto copy = std::make_unique_for_overwrite<unsigned char[]>(size);
        std::memcpy(copy.get(), values, size);
        copied = copy[size - 1];
    });
    // clang-format off
    line("  of which the session's Read of the data", median_seconds(runs, [&] {
        session.lend(std::string_view(response).substr(header));
        morvane::unique_safearray bytes;
        check(session.Read(static_cast<LONG>(size), bytes.put()), "Read");
    }), bare);
    // clang-format on
    check(io->SetBufferSize(BufferMask_Output, 1 << 20), "SetBufferSize");
    for (const bool big : {true, false}) {
        check(io->put_InstrumentBigEndian(big ? VARIANT_TRUE : VARIANT_FALSE), "InstrumentBigEndian");
        const std::string order = big ? "big-endian" : "little-endian";
        line(("WriteIEEEBlock 100 MiB of floats, " + order).c_str(),
             median_seconds(runs, [&] { check(io->WriteIEEEBlock(nullptr, data, VARIANT_TRUE), "WriteIEEEBlock"); }),
             bare);
        line(("ReadIEEEBlock 100 MiB of floats, " + order).c_str(), median_seconds(runs, [&] { read_block(); }), bare);
    }
    std::printf("%-44s %10.2f x the block\n", "ReadIEEEBlock peak memory", peak);
    check(io->SetBufferSize(BufferMask_Output, 1000), "SetBufferSize");
    check(io->put_InstrumentBigEndian(VARIANT_TRUE), "InstrumentBigEndian");
}
