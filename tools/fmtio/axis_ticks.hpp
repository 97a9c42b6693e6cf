#pragma once
// Round values to mark on a plot's axis: 4 to 10 ticks, 1, 2 or 5 times a power of ten apart,
// each with a label that reads back as exactly that value.
#include <string>
#include <vector>

namespace fmtio {

struct axis_tick {
    double value;
    std::string label;
};

struct axis {
    // The range to draw: the data's own, or around it when it is too narrow to be labelled
    // (a constant series, a single value, differences lost in the digits).
    double low, high;
    double step;
    std::vector<axis_tick> ticks; // ascending, all within [low, high]
};

// For finite low <= high.
axis axis_ticks(double low, double high);

} // namespace fmtio
