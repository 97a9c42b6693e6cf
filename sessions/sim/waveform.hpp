#pragma once
// Waveform samples and their binary forms: element formats, byte orders, definite blocks.
#include <cstddef>
#include <random>
#include <string>
#include <string_view>

namespace morvane::sim {

enum class sample_format { real32, real64, int16, int32, byte };

std::size_t element_size(sample_format format);
// "REAL,32", as WAVeform:FORMat? answers.
std::string_view format_name(sample_format format);

// Appends a definite block of `points` samples of a damped sine with Gaussian-looking noise,
// seeded from `noise`, in the units of the format: volts for the real formats, rounded and
// clamped counts for the integer ones. Elements go most significant byte first (big_endian)
// or last; BYTE is unsigned. The same seed gives the same volts in every format and order.
void append_waveform_block(std::string& out, std::size_t points, sample_format format, bool big_endian,
                           std::mt19937& noise);

// The data's elements as text, comma-separated. Refused with -161 when the data is not a
// whole number of elements, -222 when a real is not finite.
std::string decode_samples(std::string_view data, sample_format format, bool big_endian);

// "#<digits><length><data>".
std::string definite_block(std::string_view data);

} // namespace morvane::sim
