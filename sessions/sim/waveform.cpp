#include "sim/waveform.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <span>
#include "sim/scpi_data.hpp"
#include "sim/scpi_error.hpp"

namespace morvane::sim {
namespace {

constexpr double cycles = 5; // periods across the record
constexpr double decay = 4;  // the envelope falls to e^-4 by the end
constexpr double noise_volts = 0.02;
// Points made at a time; the first of each is computed afresh, so that the rounding of the
// rotation below cannot build up over a long record.
constexpr std::size_t chunk_points = 1024;

static_assert(std::endian::native == std::endian::little, "elements are stored from little-endian words");

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

// Rounded half away from zero, as std::round, and clamped; inline, where std::round is a call.
template<typename T> T clamp_to(double value)
{
    value = std::clamp(value, static_cast<double>(std::numeric_limits<T>::min()),
                       static_cast<double>(std::numeric_limits<T>::max()));
    const auto whole = static_cast<std::int64_t>(value); // toward zero
    const double rest = value - static_cast<double>(whole);
    return static_cast<T>(whole + (rest >= 0.5) - (rest <= -0.5)); // no branch to mispredict on noise
}

// The noise: the sum of the four 16-bit quarters of a splitmix64 draw, an Irwin-Hall variable
// with the bell's shape out to 3.5 standard deviations. One cheap draw a point, where
// std::normal_distribution takes a logarithm, a square root and a loop.
class noise_source {
public:
    explicit noise_source(std::mt19937& seeds) : m_state(std::uint64_t{seeds()} << 32 | seeds()) {}
    double next()
    {
        std::uint64_t z = m_state += 0x9E3779B97F4A7C15u;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        z ^= z >> 31;
        const std::uint64_t sum = (z & 0xFFFF) + (z >> 16 & 0xFFFF) + (z >> 32 & 0xFFFF) + (z >> 48);
        return (static_cast<double>(sum) - mean) * m_scale;
    }

private:
    static constexpr double mean = 4 * 65535 / 2.0;
    const double m_scale = noise_volts / std::sqrt(4 * (65536.0 * 65536.0 - 1) / 12);
    std::uint64_t m_state;
};

// e^(-decay t) sin(2 pi cycles t) at t = i / points: a point on a spiral turned by the same
// step from one point to the next, a few multiplications where std::exp and std::sin cost a
// library call each.
class damped_sine {
public:
    explicit damped_sine(std::size_t points)
        : m_step(1 / static_cast<double>(points)), m_turn(std::polar(std::exp(-decay * m_step), angle * m_step))
    {}
    // Samples `first` onwards, with noise, into `volts`.
    void fill(std::size_t first, std::span<double> volts, noise_source& noise) const
    {
        const double t = static_cast<double>(first) * m_step;
        std::complex<double> at = std::polar(std::exp(-decay * t), angle * t);
        for (double& value : volts) {
            value = at.imag() + noise.next();
            // Written out: std::complex's product checks for infinities at every step.
            at = {at.real() * m_turn.real() - at.imag() * m_turn.imag(),
                  at.real() * m_turn.imag() + at.imag() * m_turn.real()};
        }
    }

private:
    static constexpr double angle = 2 * std::numbers::pi * cycles;
    double m_step;
    std::complex<double> m_turn;
};

// The element's bytes at `to`, most significant first when big_endian.
template<typename Bits> char* store(char* to, Bits bits, bool big_endian)
{
    if (big_endian) {
        if constexpr (sizeof bits == 8)
            bits = __builtin_bswap64(bits);
        else if constexpr (sizeof bits == 4)
            bits = __builtin_bswap32(bits);
        else if constexpr (sizeof bits == 2)
            bits = __builtin_bswap16(bits);
    }
    std::memcpy(to, &bits, sizeof bits);
    return to + sizeof bits;
}

template<typename Element> char* encode(std::span<const double> volts, char* to, bool big_endian, Element element)
{
    for (const double value : volts)
        to = store(to, element(value), big_endian);
    return to;
}

char* encode(std::span<const double> volts, sample_format format, bool big_endian, char* to)
{
    using std::bit_cast;
    const double per_volt = counts_per_volt(format);
    switch (format) {
    case sample_format::real32:
        return encode(volts, to, big_endian, [](double v) { return bit_cast<std::uint32_t>(static_cast<float>(v)); });
    case sample_format::real64:
        return encode(volts, to, big_endian, [](double v) { return bit_cast<std::uint64_t>(v); });
    case sample_format::int16:
        return encode(volts, to, big_endian,
                      [=](double v) { return static_cast<std::uint16_t>(clamp_to<std::int16_t>(v * per_volt)); });
    case sample_format::int32:
        return encode(volts, to, big_endian,
                      [=](double v) { return static_cast<std::uint32_t>(clamp_to<std::int32_t>(v * per_volt)); });
    case sample_format::byte:
        return encode(volts, to, big_endian, [=](double v) { return clamp_to<std::uint8_t>(128 + v * per_volt); });
    }
    return to;
}

std::string block_header(std::size_t length)
{
    const std::string digits = std::to_string(length);
    return '#' + std::to_string(digits.size()) + digits;
}

template<typename Bits> Bits get(const unsigned char* in, bool big_endian)
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

void append_waveform_block(std::string& out, std::size_t points, sample_format format, bool big_endian,
                           std::mt19937& noise)
{
    const std::size_t size = element_size(format);
    out += block_header(points * size);
    std::size_t at = out.size();
    out.resize(at + points * size);
    noise_source jitter(noise);
    const damped_sine sine(points);
    std::array<double, chunk_points> volts;
    for (std::size_t first = 0; first < points; first += chunk_points) {
        const std::span<double> chunk(volts.data(), std::min(chunk_points, points - first));
        sine.fill(first, chunk, jitter);
        encode(chunk, format, big_endian, out.data() + at + first * size);
    }
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
    std::string block = block_header(data.size());
    block += data;
    return block;
}

} // namespace morvane::sim
