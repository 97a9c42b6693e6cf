#include <gtest/gtest.h>
#include <charconv>
#include <limits>
#include <string>
#include "fmtio/axis_ticks.hpp"

namespace {

// A range that holds exactly as many ticks as allowed, one a step too wide, negative, huge,
// tiny, narrow, constant and zero, where a pure float product of 0.1 would show its noise.
const struct {
    double low, high, step;
    const char* labels; // joined by spaces
} cases[] = {
    {0, 1, 0.2, "0.0 0.2 0.4 0.6 0.8 1.0"},
    {0, 0.9, 0.1, "0.0 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9"},
    {-0.603793, 0.852468, 0.2, "-0.6 -0.4 -0.2 0.0 0.2 0.4 0.6 0.8"},
    {-60, 140, 50, "-50 0 50 100"},
    {0.1, 0.4, 0.05, "0.10 0.15 0.20 0.25 0.30 0.35 0.40"},
    {-0.0042, -0.0011, 0.0005, "-0.0040 -0.0035 -0.0030 -0.0025 -0.0020 -0.0015"},
    {0, 11, 2, "0 2 4 6 8 10"},
    {0, 2.5e6, 5e5, "0 5.0e+05 1.0e+06 1.5e+06 2.0e+06 2.5e+06"},
    {1e-300, 5e-300, 5e-301, "1.0e-300 1.5e-300 2.0e-300 2.5e-300 3.0e-300 3.5e-300 4.0e-300 4.5e-300 5.0e-300"},
    {-std::numeric_limits<double>::max(), std::numeric_limits<double>::max(), 5e307,
     "-1.5e+308 -1.0e+308 -5.0e+307 0 5.0e+307 1.0e+308 1.5e+308"},
    {5, 5, 0.2, "4.6 4.8 5.0 5.2 5.4"},
    {0, 0, 0.5, "-1.0 -0.5 0.0 0.5 1.0"},
    {-1000, -1000, 200, "-1400 -1200 -1000 -800 -600"},
    {1, 1 + 1e-13, 0.1, "0.6 0.7 0.8 0.9 1.0 1.1 1.2 1.3 1.4 1.5"},
};

TEST(axis_ticks, round_steps_and_labels_within_the_range)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.low) + " to " + std::to_string(c.high));
        const fmtio::axis a = fmtio::axis_ticks(c.low, c.high);
        EXPECT_EQ(a.step, c.step);
        std::string labels;
        for (const fmtio::axis_tick& t : a.ticks) {
            labels += (labels.empty() ? "" : " ") + t.label;
            // The label is the value itself, so a tick on the range's edge stays in it.
            double parsed = std::numeric_limits<double>::quiet_NaN();
            std::from_chars(t.label.data(), t.label.data() + t.label.size(), parsed);
            EXPECT_EQ(parsed, t.value) << t.label;
            EXPECT_TRUE(a.low <= t.value && t.value <= a.high) << t.label;
        }
        EXPECT_EQ(labels, c.labels);
        EXPECT_TRUE(a.ticks.size() >= 4 && a.ticks.size() <= 10);
        // Only a range too narrow to label is widened, and then around the data.
        EXPECT_TRUE(a.low <= c.low && c.high <= a.high);
        EXPECT_TRUE(c.high - c.low <= 1e-9 * std::max(-c.low, c.high) || (a.low == c.low && a.high == c.high));
    }
}

} // namespace
