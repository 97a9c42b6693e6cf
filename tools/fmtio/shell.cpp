#include "shell.hpp"

#include <algorithm>
#include "commands.hpp"
#include "console.hpp"
#include "failure.hpp"

namespace fmtio {
namespace {

constexpr std::string_view hint = "Try 'help'.\n";

// The line's own --trace and --timeout, undone when the line is done.
class line_settings {
public:
    line_settings(bound_component& io, const request& line) : m_io(io), m_tracing(io.tracing())
    {
        if (line.trace)
            m_io.trace(true);
        if (line.timeout) {
            m_saved_timeout = m_io.timeout();
            m_io.set_timeout(*line.timeout);
        }
    }
    line_settings(const line_settings&) = delete;
    line_settings& operator=(const line_settings&) = delete;
    ~line_settings()
    {
        try {
            if (m_saved_timeout)
                m_io.set_timeout(*m_saved_timeout);
        } catch (...) {
            report_current_exception(hint);
        }
        m_io.trace(m_tracing);
    }

private:
    bound_component& m_io;
    bool m_tracing;
    std::optional<long> m_saved_timeout;
};

} // namespace

int run_shell(bound_component& io, bool echo)
{
    line_reader input;
    text_out& out = standard_output();
    int worst = exit_success;
    for (;;) {
        if (input.is_console())
            out.write("fmtio> ");
        const std::optional<std::string> line = input.next();
        if (!line)
            break;
        if (echo)
            out.write("> " + *line + "\n");
        const std::vector<std::string> words = split_words(*line);
        if (words.empty() || words[0].starts_with("#"))
            continue;
        try {
            const request what = parse_shell_line(words);
            if (what.what == subcommand::exit)
                break;
            if (show_help(what, true))
                continue;
            line_settings settings(io, what);
            run_request(io, what);
        } catch (...) {
            worst = std::max(worst, report_current_exception(hint));
        }
    }
    return input.is_console() ? exit_success : worst;
}

} // namespace fmtio
