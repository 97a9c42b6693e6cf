#pragma once
// Waveforms drawn for people to look at: in the terminal, 80 columns of block characters,
// and as an SVG picture for a browser; both with round values marked on their axes.
#include <span>
#include <string>
#include <string_view>

namespace fmtio {

// The plot's lines, `width` columns at most, each ending with a line feed; a note when no
// value is a finite number.
std::string terminal_plot(std::span<const double> values, bool ascii, int width = 80);

// A whole SVG document; `title` names the data.
std::string svg_plot(std::span<const double> values, std::string_view title);

} // namespace fmtio
