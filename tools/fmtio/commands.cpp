#include "commands.hpp"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include "console.hpp"
#include "failure.hpp"
#include "files.hpp"
#include "plot.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

void print(const std::string& text) { standard_output().write(text); }

// The extremes are shown as the values print, so that a float keeps its own shortest form.
std::string block_summary(const value_list& values, element_type type)
{
    std::string line = std::to_string(values.numbers.size()) + " values of type " + type_name(type);
    std::optional<std::size_t> low, high;
    for (std::size_t i = 0; i < values.numbers.size(); ++i) {
        const double v = values.numbers[i];
        if (!std::isfinite(v))
            continue;
        if (!low || v < values.numbers[*low])
            low = i;
        if (!high || v > values.numbers[*high])
            high = i;
    }
    if (low)
        line += ", min " + values.texts[*low] + ", max " + values.texts[*high];
    return line + "\n";
}

std::string csv_text(const value_list& values)
{
    std::string text = "index,value\n";
    for (std::size_t i = 0; i < values.texts.size(); ++i)
        text += std::to_string(i) + "," + values.texts[i] + "\n";
    return text;
}

void read_block(bound_component& io, const request& what)
{
    const element_type type = what.type.value_or(element_type::r4);
    const value_list values = io.read_block(what.command, type, what.little_endian);
    print(block_summary(values, type));
    if (what.csv_file) {
        write_file(*what.csv_file, csv_text(values));
        print("values written to " + *what.csv_file + "\n");
    }
    if (what.svg_file) {
        write_file(*what.svg_file, svg_plot(values.numbers, what.command));
        print("plot written to " + *what.svg_file + "\n");
    }
    if (what.plot)
        print(terminal_plot(values.numbers, ascii_only()));
    else if (!what.csv_file && !what.svg_file)
        print(joined(values.texts, ",") + "\n");
}

// The status byte's bits by their IEEE 488.2 and SCPI meaning; bits 0 and 1 are the instrument's.
constexpr const char* status_bits[] = {
    "bit 0",        "bit 1",           "error available", "questionable status", "message available",
    "event status", "service request", "operation status"};

std::string status_text(short status)
{
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned short>(status));
    std::vector<std::string> set;
    for (unsigned bit = 0; bit < std::size(status_bits); ++bit)
        if (status & (1u << bit))
            set.push_back(status_bits[bit]);
    return std::to_string(status) + " (" + code + (set.empty() ? "" : ": " + joined(set, ", ")) + ")\n";
}

void describe_server(const char* label, const std::string& what, IUnknown* object)
{
    const module_facts facts = describe_module(object);
    print(label + what + "\n");
    print("file:      " + facts.path + "\n");
    print("version:   " + (facts.version.empty() ? std::string("not recorded in the file") : facts.version) + "\n");
}

void info(bound_component& io)
{
    describe_server("component: ", "FmtdIOCls, " + io.formatted_io().origin, io.formatted_io().object.Get());
    describe_server("sessions:  ", "ResourceManager, " + io.manager().origin, io.manager().object.Get());
    print("resource:  " + io.resource_name() + "\n");
}

} // namespace

void list_resources(IMorvaneResourceManager* manager, const request& what)
{
    set_discovery(manager, {what.addresses, what.portmapper_port});
    const std::vector<std::string> found = find_resources(manager, what.command);
    for (const std::string& name : found) {
        // One resource that does not answer leaves the others listed.
        std::string answer;
        try {
            answer = identify(manager, name, what.timeout.value_or(2000));
        } catch (const failure& failed) {
            answer = "(no answer: " + (failed.record() ? failed.record()->description : hex(failed.hr())) + ")";
        }
        print(name + "  " + answer + "\n");
    }
    if (found.empty())
        standard_error().write("fmtio: no resource matches " + quoted(what.command) + "\n");
}

bool show_help(const request& what, bool in_shell)
{
    if (what.help && what.what != subcommand::help)
        print(subcommand_help(what.what));
    else if (what.what == subcommand::help && what.help_topic)
        print(subcommand_help(*what.help_topic));
    else if (what.what == subcommand::help)
        print(in_shell ? shell_help_text() : usage_text());
    else
        return false;
    return true;
}

void run_request(bound_component& io, const request& what)
{
    switch (what.what) {
    case subcommand::write: io.write(what.command); break;
    case subcommand::query: print(io.query(what.command) + "\n"); break;
    case subcommand::read: print(io.read_string("") + "\n"); break;
    case subcommand::read_number: print(io.read_number(what.command) + "\n"); break;
    case subcommand::read_list: {
        const value_list list =
            io.read_list(what.command, what.type.value_or(element_type::any), what.separators.value_or(",;"));
        print(joined(list.texts, ",") + "\n");
        break;
    }
    case subcommand::write_list:
        io.write_list(what.command, what.type.value_or(element_type::any), what.values, what.separators.value_or(","));
        break;
    case subcommand::read_block: read_block(io, what); break;
    case subcommand::write_block:
        io.write_block(what.command,
                       what.from_file ? array_from_bytes(*what.type, read_file(*what.from_file))
                                      : make_array(*what.type, what.values),
                       what.little_endian);
        break;
    case subcommand::clear: io.clear(); break;
    case subcommand::status_byte: print(status_text(io.read_status_byte())); break;
    case subcommand::trigger: io.assert_trigger(); break;
    case subcommand::srq: print(status_text(io.wait_for_service_request(what.command, io.timeout()))); break;
    case subcommand::lock: io.lock(what.lock_timeout ? *what.lock_timeout : io.timeout(), what.command); break;
    case subcommand::unlock: io.unlock(); break;
    case subcommand::find: list_resources(io.manager().object.Get(), what); break;
    case subcommand::info: info(io); break;
    case subcommand::shell:
    case subcommand::demo:
    case subcommand::help:
    case subcommand::exit: break; // run by their callers
    }
}

} // namespace fmtio
