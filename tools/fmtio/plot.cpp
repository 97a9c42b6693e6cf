#include "plot.hpp"
#include "text.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>
#include "number_text.hpp"

namespace fmtio {
namespace {

constexpr int plot_rows = 16;
constexpr int label_digits = 6;

struct range {
    double low, high;
};

std::optional<range> finite_range(std::span<const double> values)
{
    std::optional<range> found;
    for (const double v : values) {
        if (!std::isfinite(v))
            continue;
        if (!found)
            found = range{v, v};
        found->low = std::min(found->low, v);
        found->high = std::max(found->high, v);
    }
    return found;
}

// The values under each column as a span of half-row levels, joined to the column before so
// that the curve stays connected; nothing where the column holds no finite value.
std::vector<std::optional<range>> column_levels(std::span<const double> values, range r, int columns, int levels)
{
    const auto level = [&](double v) {
        if (r.high == r.low)
            return static_cast<double>(levels / 2);
        return std::round((v - r.low) / (r.high - r.low) * (levels - 1));
    };
    std::vector<std::optional<range>> spans(static_cast<std::size_t>(columns));
    double previous = NAN; // NaN: no value before
    const std::size_t n = values.size(), width = static_cast<std::size_t>(columns);
    for (std::size_t c = 0; c < width; ++c) {
        const std::size_t first = n * c / width, last = std::max(first + 1, n * (c + 1) / width);
        std::optional<range> span;
        for (std::size_t i = first; i < last; ++i) {
            if (!std::isfinite(values[i])) {
                previous = NAN;
                continue;
            }
            const double l = level(values[i]);
            span = span ? range{std::min(span->low, l), std::max(span->high, l)} : range{l, l};
            if (!std::isnan(previous))
                span = range{std::min(span->low, previous), std::max(span->high, previous)};
            previous = l;
        }
        spans[c] = span;
    }
    return spans;
}

std::string padded_left(const std::string& text, std::size_t width)
{
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

std::string fixed2(double value)
{
    return rounded_text(std::round(value * 100) / 100, 10);
}

std::string escaped_xml(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '&': escaped += "&amp;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

} // namespace

std::string terminal_plot(std::span<const double> values, bool ascii, int width)
{
    const std::optional<range> r = finite_range(values);
    if (!r)
        return "(nothing to plot: no value is a finite number)\n";
    const std::string top = rounded_text(r->high, label_digits), bottom = rounded_text(r->low, label_digits);
    const std::size_t label_width = std::max(top.size(), bottom.size());
    const int columns = std::max(width - static_cast<int>(label_width) - 2, 10);
    const std::vector<std::optional<range>> spans = column_levels(values, *r, columns, 2 * plot_rows);

    const char* full = ascii ? "#" : "\u2588";
    const char* upper = ascii ? "'" : "\u2580";
    const char* lower = ascii ? "." : "\u2584";
    const char* tick = ascii ? "+" : "\u2524";
    const char* axis = ascii ? "|" : "\u2502";
    std::string text;
    for (int row = 0; row < plot_rows; ++row) {
        const std::string label = row == 0 ? top : row == plot_rows - 1 ? bottom : "";
        text += padded_left(label, label_width) + " " + (label.empty() ? axis : tick);
        const double lower_level = 2.0 * (plot_rows - 1 - row), upper_level = lower_level + 1;
        for (const std::optional<range>& span : spans) {
            const auto covers = [&](double level) { return span && span->low <= level && level <= span->high; };
            const bool has_upper = covers(upper_level), has_lower = covers(lower_level);
            text += has_upper && has_lower ? full : has_upper ? upper : has_lower ? lower : " ";
        }
        text.erase(text.find_last_not_of(' ') + 1);
        text += "\n";
    }
    text += std::string(label_width + 1, ' ') + (ascii ? "+" : "\u2514");
    for (int c = 0; c < columns; ++c)
        text += ascii ? "-" : "\u2500";
    const std::string last = std::to_string(values.size() - 1);
    text += "\n" + std::string(label_width + 2, ' ') + "0" +
            padded_left(last, static_cast<std::size_t>(columns) - 1) + "\n";
    return text;
}

std::string svg_plot(std::span<const double> values, std::string_view title)
{
    constexpr double width = 800, height = 400, left = 90, right = 20, top = 30, bottom = 40;
    const std::optional<range> r = finite_range(values);
    const range shown = r ? *r : range{0, 0};
    const double span = shown.high == shown.low ? 1 : shown.high - shown.low;
    const double steps = values.size() > 1 ? static_cast<double>(values.size() - 1) : 1;
    const auto x = [&](std::size_t i) { return left + (width - left - right) * static_cast<double>(i) / steps; };
    const auto y = [&](double v) {
        return shown.high == shown.low ? (top + height - bottom) / 2
                                       : top + (height - top - bottom) * (shown.high - v) / span;
    };

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"400\""
                      " viewBox=\"0 0 800 400\">\n"
                      "<title>" + escaped_xml(title) + "</title>\n"
                      "<rect width=\"800\" height=\"400\" fill=\"white\"/>\n"
                      "<g font-family=\"sans-serif\" font-size=\"12\" fill=\"black\">\n"
                      "<text x=\"400\" y=\"18\" text-anchor=\"middle\">" + escaped_xml(title) + "</text>\n";
    const std::string bottom_y = fixed2(height - bottom), left_x = fixed2(left);
    svg += "<text x=\"" + fixed2(left - 6) + "\" y=\"" + fixed2(top + 4) + "\" text-anchor=\"end\">" +
           rounded_text(shown.high, label_digits) + "</text>\n";
    svg += "<text x=\"" + fixed2(left - 6) + "\" y=\"" + fixed2(height - bottom + 4) + "\" text-anchor=\"end\">" +
           rounded_text(shown.low, label_digits) + "</text>\n";
    svg += "<text x=\"" + left_x + "\" y=\"" + fixed2(height - bottom + 18) + "\">0</text>\n";
    svg += "<text x=\"" + fixed2(width - right) + "\" y=\"" + fixed2(height - bottom + 18) +
           "\" text-anchor=\"end\">" + std::to_string(values.empty() ? 0 : values.size() - 1) + "</text>\n</g>\n";
    svg += "<path d=\"M" + left_x + " " + fixed2(top) + "V" + bottom_y + "H" + fixed2(width - right) +
           "\" fill=\"none\" stroke=\"gray\"/>\n";
    // One polyline per run of finite values.
    std::string points;
    const auto flush = [&] {
        if (!points.empty())
            svg += "<polyline fill=\"none\" stroke=\"steelblue\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
        points.clear();
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            flush();
            continue;
        }
        points += (points.empty() ? "" : " ") + fixed2(x(i)) + "," + fixed2(y(values[i]));
    }
    flush();
    return svg + "</svg>\n";
}

} // namespace fmtio
