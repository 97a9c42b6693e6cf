#include "plot.hpp"
#include "text.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>
#include "axis_ticks.hpp"
#include "number_text.hpp"

namespace fmtio {
namespace {

constexpr int plot_rows = 16;

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

// Where v lies on the axis, 0 at its low end and 1 at its high end; halved first so that
// the widest range of doubles does not overflow.
double fraction(double v, const axis& a) { return (v / 2 - a.low / 2) / (a.high / 2 - a.low / 2); }

// The half-row level, 0 at the bottom, at which a value is drawn.
double level_of(double v, const axis& a, int levels) { return std::round(fraction(v, a) * (levels - 1)); }

// The values under each column as a span of half-row levels, joined to the column before so
// that the curve stays connected; nothing where the column holds no finite value.
std::vector<std::optional<range>> column_levels(std::span<const double> values, const axis& a, int columns, int levels)
{
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
            const double l = level_of(values[i], a, levels);
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

std::string fixed2(double value) { return rounded_text(std::round(value * 100) / 100, 10); }

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

// The axis's labels by row, the top row first; none when they would leave too few columns.
std::vector<std::string> row_labels(const axis& y, int width, int min_columns)
{
    std::vector<std::string> labels(plot_rows);
    std::size_t label_width = 0;
    for (const axis_tick& tick : y.ticks)
        label_width = std::max(label_width, tick.label.size());
    if (width - static_cast<int>(label_width) - 2 < min_columns)
        return labels;
    for (const axis_tick& tick : y.ticks) {
        const int row = plot_rows - 1 - static_cast<int>(level_of(tick.value, y, 2 * plot_rows)) / 2;
        labels[static_cast<std::size_t>(std::clamp(row, 0, plot_rows - 1))] = tick.label;
    }
    return labels;
}

} // namespace

std::string terminal_plot(std::span<const double> values, bool ascii, int width)
{
    constexpr int min_columns = 10;
    const std::optional<range> r = finite_range(values);
    if (!r)
        return "(nothing to plot: no value is a finite number)\n";
    const axis y = axis_ticks(r->low, r->high);
    const std::vector<std::string> labels = row_labels(y, width, min_columns);
    std::size_t label_width = 0;
    for (const std::string& label : labels)
        label_width = std::max(label_width, label.size());
    const int columns = std::max(width - static_cast<int>(label_width) - 2, min_columns);
    const std::vector<std::optional<range>> spans = column_levels(values, y, columns, 2 * plot_rows);

    const char* full = ascii ? "#" : "\u2588";
    const char* upper = ascii ? "'" : "\u2580";
    const char* lower = ascii ? "." : "\u2584";
    const char* tick = ascii ? "+" : "\u2524";
    const char* axis_line = ascii ? "|" : "\u2502";
    std::string text;
    for (int row = 0; row < plot_rows; ++row) {
        const std::string& label = labels[static_cast<std::size_t>(row)];
        text += padded_left(label, label_width) + " " + (label.empty() ? axis_line : tick);
        const double lower_level = 2.0 * (plot_rows - 1 - row), upper_level = lower_level + 1;
        for (const std::optional<range>& span : spans) {
            const auto covers = [&](double level) { return span && span->low <= level && level <= span->high; };
            const bool has_upper = covers(upper_level), has_lower = covers(lower_level);
            text += has_upper && has_lower ? full : has_upper ? upper : has_lower ? lower : " ";
        }
        text.erase(text.find_last_not_of(' ') + 1);
        text += "\n";
    }

    // The index ticks that name a sample: a mark on the axis under the middle of the columns
    // that draw it, and its label below where it fits beside the one before.
    const double count = static_cast<double>(values.size());
    std::vector<bool> marked(static_cast<std::size_t>(columns));
    std::string below;
    const std::size_t plot_left = label_width + 2;
    for (const axis_tick& t : axis_ticks(0, count - 1).ticks) {
        if (t.value < 0 || t.value > count - 1 || t.value != std::floor(t.value))
            continue;
        const std::size_t column = static_cast<std::size_t>((t.value + 0.5) * columns / count);
        marked[column] = true;
        const std::string label = std::to_string(static_cast<long long>(t.value));
        const std::size_t at = plot_left + column, start = at - std::min(at, label.size() / 2);
        if ((below.empty() || start > below.size()) && start + label.size() <= static_cast<std::size_t>(width))
            below += std::string(start - below.size(), ' ') + label;
    }
    text += std::string(label_width + 1, ' ') + (ascii ? "+" : "\u2514");
    for (const bool mark : marked)
        text += mark ? (ascii ? "+" : "\u252c") : (ascii ? "-" : "\u2500");
    return text + "\n" + below + "\n";
}

std::string svg_plot(std::span<const double> values, std::string_view title)
{
    constexpr double width = 800, height = 400, left = 90, right = 20, top = 30, bottom = 40;
    const std::optional<range> r = finite_range(values);
    const axis y = r ? axis_ticks(r->low, r->high) : axis_ticks(0, 0);
    const axis x = axis_ticks(0, values.size() > 1 ? static_cast<double>(values.size() - 1) : 0);
    const auto x_at = [&](double i) { return fixed2(left + (width - left - right) * fraction(i, x)); };
    const auto y_of = [&](double v) { return height - bottom - (height - top - bottom) * fraction(v, y); };
    const auto y_at = [&](double v) { return fixed2(y_of(v)); };

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"400\""
                      " viewBox=\"0 0 800 400\">\n"
                      "<title>" +
                      escaped_xml(title) +
                      "</title>\n"
                      "<rect width=\"800\" height=\"400\" fill=\"white\"/>\n"
                      "<g font-family=\"sans-serif\" font-size=\"12\" fill=\"black\">\n"
                      "<text x=\"400\" y=\"18\" text-anchor=\"middle\">" +
                      escaped_xml(title) + "</text>\n";
    const std::string left_x = fixed2(left), right_x = fixed2(width - right);
    const std::string top_y = fixed2(top), bottom_y = fixed2(height - bottom);
    std::string grid, marks;
    for (const axis_tick& t : y.ticks) {
        svg += "<text x=\"" + fixed2(left - 8) + "\" y=\"" + fixed2(y_of(t.value) + 4) + "\" text-anchor=\"end\">" +
               t.label + "</text>\n";
        grid += "M" + left_x + " " + y_at(t.value) + "H" + right_x;
        marks += "M" + fixed2(left - 4) + " " + y_at(t.value) + "H" + left_x;
    }
    for (const axis_tick& t : x.ticks) {
        svg += "<text x=\"" + x_at(t.value) + "\" y=\"" + fixed2(height - bottom + 18) + "\" text-anchor=\"middle\">" +
               t.label + "</text>\n";
        grid += "M" + x_at(t.value) + " " + top_y + "V" + bottom_y;
        marks += "M" + x_at(t.value) + " " + bottom_y + "V" + fixed2(height - bottom + 4);
    }
    svg += "</g>\n<path d=\"" + grid + "\" fill=\"none\" stroke=\"#e4e4e4\"/>\n";
    svg += "<path d=\"M" + left_x + " " + top_y + "V" + bottom_y + "H" + right_x + marks +
           "\" fill=\"none\" stroke=\"gray\"/>\n";
    // One polyline per run of finite values; a dot for a run of one, which a line would not show.
    std::string points, dot;
    const auto flush = [&] {
        if (points.find(' ') != std::string::npos)
            svg += "<polyline fill=\"none\" stroke=\"steelblue\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
        else if (!points.empty())
            svg += "<circle " + dot + " r=\"2\" fill=\"steelblue\"/>\n";
        points.clear();
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            flush();
            continue;
        }
        const std::string x_text = x_at(static_cast<double>(i)), y_text = y_at(values[i]);
        points += (points.empty() ? "" : " ") + x_text + "," + y_text;
        dot = "cx=\"" + x_text + "\" cy=\"" + y_text + "\"";
    }
    flush();
    return svg + "</svg>\n";
}

} // namespace fmtio
