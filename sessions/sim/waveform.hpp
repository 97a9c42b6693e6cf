#pragma once
// Waveform samples and their binary forms: element formats, byte orders, definite blocks.
#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::sim {

enum class sample_format { real32, real64, int16, int32, byte };

std::size_t element_size(sample_format format);
// "REAL,32", as WAVeform:FORMat? answers.
std::string_view format_name(sample_format format);

// `points` samples of a damped sine with Gaussian noise drawn from `noise`, in the units of
// the format: volts for the real formats, rounded and clamped counts for the integer ones.
std::vector<double> damped_sine(std::size_t points, sample_format format, std::mt19937& noise);

// Elements most significant byte first (big_endian) or last. BYTE is unsigned.
std::string encode_samples(const std::vector<double>& values, sample_format format, bool big_endian);
// The data's elements as text, comma-separated. Refused with -161 when the data is not a
// whole number of elements, -222 when a real is not finite.
std::string decode_samples(std::string_view data, sample_format format, bool big_endian);

// "#<digits><length><data>".
std::string definite_block(std::string_view data);

} // namespace morvane::sim
