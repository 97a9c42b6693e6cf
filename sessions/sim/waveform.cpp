#include "sim/waveform.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include "sim/scpi_data.hpp"
#include "sim/scpi_error.hpp"

namespace morvane::sim {
namespace {

constexpr double cycles = 5;       // periods across the record
constexpr double decay = 4;        // the envelope falls to e^-4 by the end
constexpr double noise_volts = 0.02;

// Counts per volt of each integer format; the signal stays within about +-1.1 V.
double counts_per_volt(sample_format format)
{
    switch (format) {
    case sample_format::int16: return 25000;
    case sample_format::int32: return 1e9;
    case sample_format::byte: return 100;
    default: return 1;
    }
}

template <typename T>
double clamp_to(double value)
{
    return std::clamp(std::round(value), static_cast<double>(std::numeric_limits<T>::min()),
                      static_cast<double>(std::numeric_limits<T>::max()));
}

template <typename Bits>
void put(std::string& out, Bits bits, bool big_endian)
{
    for (std::size_t i = 0; i < sizeof(Bits); ++i) {
        const std::size_t shift = 8 * (big_endian ? sizeof(Bits) - 1 - i : i);
        out.push_back(static_cast<char>(static_cast<unsigned char>(bits >> shift)));
    }
}

template <typename Bits>
Bits get(const unsigned char* in, bool big_endian)
{
    Bits bits = 0;
    for (std::size_t i = 0; i < sizeof(Bits); ++i) {
        const std::size_t shift = 8 * (big_endian ? sizeof(Bits) - 1 - i : i);
        bits |= static_cast<Bits>(static_cast<Bits>(in[i]) << shift);
    }
    return bits;
}

std::string decoded_element(const unsigned char* in, sample_format format, bool big_endian)
{
    switch (format) {
    case sample_format::real32: {
        const float value = std::bit_cast<float>(get<std::uint32_t>(in, big_endian));
        if (!std::isfinite(value))
            throw scpi_failure(scpi::data_out_of_range);
        return shortest(value);
    }
    case sample_format::real64: {
        const double value = std::bit_cast<double>(get<std::uint64_t>(in, big_endian));
        if (!std::isfinite(value))
            throw scpi_failure(scpi::data_out_of_range);
        return shortest(value);
    }
    case sample_format::int16: return std::to_string(static_cast<std::int16_t>(get<std::uint16_t>(in, big_endian)));
    case sample_format::int32: return std::to_string(static_cast<std::int32_t>(get<std::uint32_t>(in, big_endian)));
    case sample_format::byte: return std::to_string(in[0]);
    }
    return {};
}

} // namespace

std::size_t element_size(sample_format format)
{
    switch (format) {
    case sample_format::real32: return 4;
    case sample_format::real64: return 8;
    case sample_format::int16: return 2;
    case sample_format::int32: return 4;
    case sample_format::byte: return 1;
    }
    return 1;
}

std::string_view format_name(sample_format format)
{
    switch (format) {
    case sample_format::real32: return "REAL,32";
    case sample_format::real64: return "REAL,64";
    case sample_format::int16: return "INT,16";
    case sample_format::int32: return "INT,32";
    case sample_format::byte: return "BYTE";
    }
    return {};
}

std::vector<double> damped_sine(std::size_t points, sample_format format, std::mt19937& noise)
{
    std::normal_distribution<double> jitter(0.0, noise_volts);
    std::vector<double> samples;
    samples.reserve(points);
    for (std::size_t i = 0; i < points; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(points);
        const double volts = std::exp(-decay * t) * std::sin(2 * std::numbers::pi * cycles * t) + jitter(noise);
        const double counts = volts * counts_per_volt(format);
        switch (format) {
        case sample_format::real32: samples.push_back(static_cast<float>(volts)); break;
        case sample_format::real64: samples.push_back(volts); break;
        case sample_format::int16: samples.push_back(clamp_to<std::int16_t>(counts)); break;
        case sample_format::int32: samples.push_back(clamp_to<std::int32_t>(counts)); break;
        case sample_format::byte: samples.push_back(clamp_to<std::uint8_t>(128 + counts)); break;
        }
    }
    return samples;
}

std::string encode_samples(const std::vector<double>& values, sample_format format, bool big_endian)
{
    std::string out;
    out.reserve(values.size() * element_size(format));
    for (const double value : values) {
        switch (format) {
        case sample_format::real32: put(out, std::bit_cast<std::uint32_t>(static_cast<float>(value)), big_endian); break;
        case sample_format::real64: put(out, std::bit_cast<std::uint64_t>(value), big_endian); break;
        case sample_format::int16: put(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)), big_endian); break;
        case sample_format::int32: put(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)), big_endian); break;
        case sample_format::byte: out.push_back(static_cast<char>(static_cast<unsigned char>(value))); break;
        }
    }
    return out;
}

std::string decode_samples(std::string_view data, sample_format format, bool big_endian)
{
    const std::size_t size = element_size(format);
    if (data.size() % size != 0)
        throw scpi_failure(scpi::invalid_block_data);
    std::string text;
    for (std::size_t at = 0; at < data.size(); at += size) {
        if (at != 0)
            text.push_back(',');
        text += decoded_element(reinterpret_cast<const unsigned char*>(data.data() + at), format, big_endian);
    }
    return text;
}

std::string definite_block(std::string_view data)
{
    const std::string length = std::to_string(data.size());
    return '#' + std::to_string(length.size()) + length + std::string(data);
}

} // namespace morvane::sim
