#include "demo.hpp"

#include <cmath>
#include <cstdlib>
#include <functional>
#include "console.hpp"
#include "failure.hpp"
#include <algorithm>
#include "plot.hpp"
#include "text.hpp"
#include "session_codes.hpp"

namespace fmtio {
namespace {

class tour {
public:
    explicit tour(bound_component& io) : m_io(io) {}

    void step(const std::string& title, const std::string& explanation, const std::function<void()>& body)
    {
        say("\n" + std::to_string(++m_steps) + ". " + title + "\n");
        show(explanation);
        try {
            body();
        } catch (...) {
            report_current_exception("");
            check(false, "the step ran without a failure");
        }
    }

    void check(bool passed, const std::string& what)
    {
        ++m_checks;
        m_passed += passed;
        const char* mark = passed ? (ascii_only() ? "ok" : "\u2713") : (ascii_only() ? "FAILED" : "\u2717");
        say(std::string("   ") + mark + " " + what + "\n");
    }

    void sent(const std::string& command) { say("   > " + command + "\n"); }
    void received(const std::string& text) { say("   < " + text + "\n"); }
    void say(const std::string& text) { standard_output().write(text); }
    // Lines of a plot or a report, in line with the step's text.
    void show(const std::string& lines)
    {
        for (std::size_t at = 0; at < lines.size();) {
            const std::size_t end = std::min(lines.find('\n', at), lines.size());
            say("   " + lines.substr(at, end - at) + "\n");
            at = end + 1;
        }
    }

    std::string query(const std::string& command)
    {
        sent(command);
        const std::string answer = m_io.query(command);
        received(answer);
        return answer;
    }

    int finish()
    {
        say("\n" + std::to_string(m_passed) + " of " + std::to_string(m_checks) + " checks passed\n");
        return m_passed == m_checks ? exit_success : exit_failure;
    }

    bound_component& io() { return m_io; }

private:
    bound_component& m_io;
    int m_steps = 0, m_checks = 0, m_passed = 0;
};

bool all_finite(const std::vector<double>& numbers)
{
    for (const double v : numbers)
        if (!std::isfinite(v))
            return false;
    return true;
}

void identification(tour& t)
{
    const std::string answer = t.query("*IDN?");
    std::size_t commas = 0;
    for (const char c : answer)
        commas += c == ',';
    t.check(commas == 3, "the answer has four comma-separated fields: maker, model, serial number, version");
}

void reset(tour& t)
{
    t.sent("*RST;*CLS");
    t.io().write("*RST;*CLS");
    t.check(t.query("*OPC?") == "1", "*OPC? answers 1 once the reset is done");
}

void single_reading(tour& t)
{
    t.sent("MEAS:VOLT?");
    const std::string reading = t.io().read_number("MEAS:VOLT?");
    t.received(reading);
    const double value = std::strtod(reading.c_str(), nullptr);
    t.check(std::isfinite(value) && std::abs(value) < 1000, "ReadNumber gave one reading as a double");
}

void list_of_readings(tour& t)
{
    t.sent("MEAS:ARR? 8");
    const value_list readings = t.io().read_list("MEAS:ARR? 8", element_type::r8, ",;");
    t.received(joined(readings.texts, ","));
    t.check(readings.numbers.size() == 8 && all_finite(readings.numbers), "ReadList gave 8 doubles");
}

void list_round_trip(tour& t)
{
    // WriteList writes doubles with 15 significant digits.
    const std::vector<std::string> values = {"0.1", "-2.5e-3", "1e+20", "42", "3.14159265358979"};
    t.sent("DATA:LIST " + joined(values, ",") + "   (WriteList, type r8)");
    t.io().write_list("DATA:LIST", element_type::r8, values, ",");
    t.sent("DATA:LIST?");
    const value_list back = t.io().read_list("DATA:LIST?", element_type::r8, ",;");
    t.received(joined(back.texts, ","));
    std::vector<double> sent;
    for (const std::string& value : values)
        sent.push_back(std::strtod(value.c_str(), nullptr));
    t.check(back.numbers == sent, "the instrument had every value as it was sent");
}

void waveform(tour& t)
{
    for (const char* command : {"WAV:POIN 200", "WAV:FORM REAL,32", "FORM:BORD NORM"}) {
        t.sent(command);
        t.io().write(command);
    }
    t.sent("WAV:DATA?   (ReadIEEEBlock, type r4, big-endian)");
    const value_list wave = t.io().read_block("WAV:DATA?", element_type::r4, false);
    t.show(terminal_plot(wave.numbers, ascii_only(), 77));
    t.check(wave.numbers.size() == 200 && all_finite(wave.numbers), "the block held 200 finite floats");
}

void block_upload(tour& t)
{
    // 2560 and 3338 are 0x0A00 and 0x0D0A: data bytes that look like line ends and a NUL.
    const std::vector<std::string> values = {"0", "10", "13", "-1", "2560", "3338", "32767", "-32768"};
    for (const char* command : {"WAV:FORM INT,16", "FORM:BORD SWAP"}) {
        t.sent(command);
        t.io().write(command);
    }
    t.sent("TRAC:DATA #216<16 bytes: " + joined(values, ",") + ">   (WriteIEEEBlock, type i2, little-endian)");
    t.io().write_block("TRAC:DATA", make_array(element_type::i2, values), true);
    t.sent("TRAC:DATA?   (ReadIEEEBlock, type i2, little-endian)");
    const value_list back = t.io().read_block("TRAC:DATA?", element_type::i2, true);
    t.received(joined(back.texts, ","));
    t.check(back.texts == values, "the block came back byte for byte, line feeds, carriage returns and NULs too");
}

void deliberate_error(tour& t)
{
    const long timeout = t.io().timeout();
    t.io().set_timeout(500);
    t.sent("MEAS:CURR?   (this instrument measures no current)");
    bool timed_out = false;
    try {
        t.io().query("MEAS:CURR?");
    } catch (const failure& error) {
        t.show(error.report());
        timed_out = error.hr() == morvane::session::timeout_expired;
    }
    t.io().set_timeout(timeout);
    t.check(timed_out, "ReadString failed with the session's timeout, as no answer came");
    t.check(t.query("SYST:ERR?").starts_with("-113,"), "the instrument's error queue says why: undefined header");
    t.sent("*CLS");
    t.io().write("*CLS");
    t.check(t.query("SYST:ERR?") == "0,\"No error\"", "*CLS emptied the queue");
}

} // namespace

int run_demo(bound_component& io)
{
    tour t(io);
    t.say("A tour of formatted I/O through the Morvane component, with the simulated instrument.\n"
          "Lines with > are sent, lines with < are read back.\n");
    t.step("Identification", "WriteString sends *IDN?, ReadString reads the answer.", [&] { identification(t); });
    t.step("Reset", "Commands joined with ';' go in one message.", [&] { reset(t); });
    t.step("A single reading", "ReadNumber reads the answer as a number.", [&] { single_reading(t); });
    t.step("A list of readings", "ReadList reads comma-separated values into an array.", [&] { list_of_readings(t); });
    t.step("A list written and read back",
           "WriteList sends an array as a list; the instrument parses it and renders it again.",
           [&] { list_round_trip(t); });
    t.step("A waveform as a binary block",
           "A definite-length block (#, digit count, length, data) carries the samples as floats.",
           [&] { waveform(t); });
    t.step("A block uploaded and verified",
           "WriteIEEEBlock sends an array as a block, here in the little-endian order.", [&] { block_upload(t); });
    t.step("A deliberate error",
           "A query that the instrument does not know gets no answer: the read times out, and the\n"
           "error report shows the method, the command, the HRESULT and the error information.",
           [&] { deliberate_error(t); });
    return t.finish();
}

} // namespace fmtio
