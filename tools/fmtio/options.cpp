#include "options.hpp"

#include <charconv>
#include <algorithm>
#include <cctype>
#include <climits>
#include <iterator>
#include <string_view>
#include <utility>
#include "failure.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

enum class arguments { none, command, optional_command, command_and_values, expression, topic, lock };

// Options by the subcommands that take them.
enum option_set : unsigned {
    // clang-format off
    type_option = 1, separator_option = 2, order_option = 4, block_read_options = 8, from_option = 16,
    echo_option = 32, discovery_options = 64,
    // clang-format on
};

struct subcommand_entry {
    const char* name;
    subcommand id;
    arguments takes;
    unsigned options;
    bool in_shell;
    const char* synopsis;
    const char* summary;
};

constexpr subcommand_entry subcommands[] = {
    {"write", subcommand::write, arguments::command, 0, true, "write CMD", "Sends CMD with END."},
    {"query", subcommand::query, arguments::command, 0, true, "query CMD",
     "Sends CMD, then reads the response as text (WriteString, ReadString)."},
    {"read", subcommand::read, arguments::none, 0, true, "read", "Reads a response as text (ReadString)."},
    {"read-number", subcommand::read_number, arguments::optional_command, 0, true, "read-number CMD",
     "Sends CMD, then reads the first number of the response (ReadNumber)."},
    {"read-list", subcommand::read_list, arguments::optional_command, type_option | separator_option, true,
     "read-list CMD [--type T] [--sep S]",
     "Sends CMD, then reads the response as a list (ReadList); S holds the separators (default \",;\")."},
    {"write-list", subcommand::write_list, arguments::command_and_values, type_option | separator_option, true,
     "write-list CMD VALUES... [--type T] [--sep C]",
     "Sends CMD and the values as a list separated by C (default \",\") (WriteList)."},
    {"read-block", subcommand::read_block, arguments::optional_command, type_option | order_option | block_read_options,
     true, "read-block CMD [--type T] [--little-endian] [--csv FILE] [--plot] [--svg FILE]",
     "Sends CMD, then reads a definite-length binary block (ReadIEEEBlock; type r4 by default). Prints a\n"
     "summary line and the values, or with --plot a plot; --csv and --svg write them to a file."},
    {"write-block", subcommand::write_block, arguments::command_and_values, type_option | order_option | from_option,
     true, "write-block CMD --type T VALUES...|--from FILE",
     "Sends CMD and the values as a definite-length binary block (WriteIEEEBlock). --from takes the\n"
     "elements from a binary file, little-endian as this machine stores them."},
    {"clear", subcommand::clear, arguments::none, 0, true, "clear",
     "Clears the device: the instrument and the session drop what is unsent and unread (Clear)."},
    {"stb", subcommand::status_byte, arguments::none, 0, true, "stb",
     "Reads the status byte (ReadStatusByte): its value, in hexadecimal, and the bits set. Over TCP\n"
     "the session asks the instrument with *STB?."},
    {"trigger", subcommand::trigger, arguments::none, 0, true, "trigger", "Sends a bus trigger (AssertTrigger)."},
    {"srq", subcommand::srq, arguments::command, 0, true, "srq CMD",
     "Sends CMD with service requests enabled, waits for the instrument's request (the session's\n"
     "timeout at most) and prints the status byte that came with it, as stb does. For example:\n"
     "srq *ESE 1;*SRE 32;INIT;*OPC waits until an acquisition is done. Simulated, VXI-11 and\n"
     "HiSLIP sessions take requests; a socket session has no channel for them."},
    {"lock", subcommand::lock, arguments::lock, 0, true, "lock [MS [NAME]]",
     "Locks the instrument against other clients (IMorvaneLocking::Lock), waiting MS milliseconds at\n"
     "most (default: the session's timeout): the shared lock NAME, else the exclusive lock. It holds\n"
     "until unlock or the session's end (outside the shell, fmtio's). VXI-11 and HiSLIP sessions lock;\n"
     "VXI-11 has no shared locks."},
    {"unlock", subcommand::unlock, arguments::none, 0, true, "unlock",
     "Releases the session's lock (IMorvaneLocking::Unlock)."},
    {"find", subcommand::find, arguments::expression, discovery_options, true,
     "find [EXPRESSION] [--addresses LIST] [--portmapper-port N]",
     "Lists the resources that the resource manager finds (FindResources), one a line with its answer\n"
     "to *IDN?. In EXPRESSION, ? matches one character and * repeats the one before; the default, ?*,\n"
     "matches every name. VXI-11 instruments are asked for at the addresses in LIST (comma-separated),\n"
     "or by broadcast on the local networks, through the portmapper at port N (111 by default)."},
    {"info", subcommand::info, arguments::none, 0, true, "info",
     "Shows the component and the resource manager in use, their files and versions, and the resource."},
    {"shell", subcommand::shell, arguments::none, echo_option, false, "shell [--echo]",
     "Reads commands, one a line, and runs them on one session. From a pipe it shows no prompt and\n"
     "ends with exit code 1 or 2 if any line failed; --echo shows every line before its output."},
    {"demo", subcommand::demo, arguments::none, 0, false, "demo", "A guided tour of the component's calls."},
    {"help", subcommand::help, arguments::topic, 0, true, "help [SUBCOMMAND]", "Shows this help."},
    {"exit", subcommand::exit, arguments::none, 0, true, "exit", "Ends the shell."},
};

struct option_entry {
    const char* name;
    bool takes_value;
    unsigned needs; // an option_set bit; 0 for options that every subcommand takes
    bool process_wide;
};

constexpr option_entry options[] = {
    // clang-format off
    {"--timeout", true, 0, false},       {"--trace", false, 0, false},       {"--help", false, 0, false},
    {"-h", false, 0, false},             {"--type", true, type_option, false},
    // clang-format on
    {"--sep", true, separator_option, false},
    {"--little-endian", false, order_option, false},
    {"--csv", true, block_read_options, false},
    {"--svg", true, block_read_options, false},
    {"--plot", false, block_read_options, false},
    {"--from", true, from_option, false},
    {"--echo", false, echo_option, false},
    {"--addresses", true, discovery_options, false},
    {"--portmapper-port", true, discovery_options, false},
    {"-r", true, 0, true},
    {"--resource", true, 0, true},
    {"--dll", true, 0, true},
    {"--ascii", false, 0, true},
    {"--serial", true, 0, true},
};

const subcommand_entry& entry_of(subcommand what)
{
    for (const subcommand_entry& entry : subcommands)
        if (entry.id == what)
            return entry;
    return subcommands[0];
}

const subcommand_entry* find_subcommand(std::string_view name)
{
    for (const subcommand_entry& entry : subcommands)
        if (name == entry.name)
            return &entry;
    return nullptr;
}

bool is_option(std::string_view word) { return word.starts_with("--") || word == "-r" || word == "-h"; }

// A whole number from `low` to `high`, or a usage error that names `what` the option takes.
long parse_whole_number(const std::string& text, long low, long high, const std::string& what)
{
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw usage_error(what + " from " + std::to_string(low) + " to " + std::to_string(high) + ", not " +
                          quoted(text));
    return value;
}

struct given_option {
    const option_entry* entry;
    std::string value;
};

// The words split into options with their values and the other words.
void sort_words(std::span<const std::string> words, std::vector<given_option>& given,
                std::vector<std::string>& positional)
{
    bool options_end = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (options_end || !is_option(word)) {
            positional.push_back(word);
            continue;
        }
        if (word == "--") {
            options_end = true;
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const option_entry* found = nullptr;
        for (const option_entry& entry : options)
            if (name == entry.name)
                found = &entry;
        if (!found)
            throw usage_error("unknown option " + quoted(name));
        given_option option{found, {}};
        if (equals != std::string::npos) {
            if (!found->takes_value)
                throw usage_error(name + " takes no value");
            option.value = word.substr(equals + 1);
        } else if (found->takes_value) {
            if (++i == words.size())
                throw usage_error(name + " needs a value");
            option.value = words[i];
        }
        given.push_back(std::move(option));
    }
}

void apply(request& to, const given_option& option, const subcommand_entry& entry)
{
    const std::string name = option.entry->name;
    if (option.entry->needs && !(entry.options & option.entry->needs))
        throw usage_error(name + " does not apply to " + entry.name);
    if (name == "--timeout")
        to.timeout = parse_whole_number(option.value, 0, INT_MAX, "--timeout takes milliseconds");
    else if (name == "--portmapper-port")
        to.portmapper_port = parse_whole_number(option.value, 1, 65535, "--portmapper-port takes a port");
    else if (name == "--trace")
        to.trace = true;
    else if (name == "--help" || name == "-h")
        to.help = true;
    else if (name == "--type")
        to.type = parse_element_type(option.value);
    else if (name == "--sep")
        to.separators = option.value;
    else if (name == "--little-endian")
        to.little_endian = true;
    else if (name == "--plot")
        to.plot = true;
    else if (name == "--echo")
        to.echo = true;
    else if (name == "--addresses") // none: a broadcast
        to.addresses = option.value;
    else if (option.value.empty())
        throw usage_error(name + " needs a file name");
    else if (name == "--csv")
        to.csv_file = option.value;
    else if (name == "--svg")
        to.svg_file = option.value;
    else if (name == "--from")
        to.from_file = option.value;
}

void take_arguments(request& to, const subcommand_entry& entry, std::span<const std::string> words, bool in_shell)
{
    const std::string name = entry.name;
    switch (entry.takes) {
    case arguments::none:
        if (!words.empty())
            throw usage_error(name + " takes no arguments");
        break;
    case arguments::command:
    case arguments::optional_command:
        if (words.empty() && !(entry.takes == arguments::optional_command && in_shell))
            throw usage_error(name + " needs a command to send");
        to.command = joined({words.begin(), words.end()}, " ");
        break;
    case arguments::command_and_values:
        if (words.empty())
            throw usage_error(name + " needs a command to send");
        to.command = words[0];
        to.values.assign(words.begin() + 1, words.end());
        break;
    case arguments::expression:
        if (words.size() > 1)
            throw usage_error(name + " takes one expression at most");
        to.command = words.empty() ? "?*" : words[0];
        break;
    case arguments::lock:
        if (words.size() > 2)
            throw usage_error("lock takes a timeout and a name at most");
        if (!words.empty())
            to.lock_timeout = parse_whole_number(words[0], 0, INT_MAX, "lock takes milliseconds");
        to.command = words.size() == 2 ? words[1] : "";
        break;
    case arguments::topic:
        if (words.size() > 1)
            throw usage_error("help takes one subcommand at most");
        if (!words.empty()) {
            const subcommand_entry* topic = find_subcommand(words[0]);
            if (!topic)
                throw usage_error("unknown subcommand " + quoted(words[0]));
            to.help_topic = topic->id;
        }
        break;
    }
}

void check_request(const request& r)
{
    if (r.help)
        return;
    if (r.separators && r.separators->empty())
        throw usage_error("--sep needs at least one character");
    if (r.what == subcommand::write_list) {
        if (r.values.empty())
            throw usage_error("write-list needs values to send");
        if (r.separators && to_wide(*r.separators).size() != 1)
            throw usage_error("write-list takes one separator character, not " + quoted(*r.separators));
    }
    const bool block = r.what == subcommand::read_block || r.what == subcommand::write_block;
    if (block && r.type && !is_block_type(*r.type))
        throw usage_error("a block holds elements of type i2, i4, r4, r8 or ui1, not " + type_name(*r.type));
    if (r.what == subcommand::write_block) {
        if (!r.type)
            throw usage_error("write-block needs --type");
        if (r.values.empty() == !r.from_file)
            throw usage_error("write-block takes either values or --from FILE");
    }
    // Bad values are a usage error before anything is opened.
    if (r.what == subcommand::write_list || r.what == subcommand::write_block)
        make_array(r.type.value_or(element_type::any), r.values);
}

request parse_request(std::span<const std::string> words, bool in_shell, invocation* process)
{
    std::vector<given_option> given;
    std::vector<std::string> positional;
    sort_words(words, given, positional);
    if (positional.empty()) {
        for (const given_option& option : given)
            if (option.entry->name == std::string_view("--help") || option.entry->name == std::string_view("-h"))
                return request{};
        throw usage_error("no subcommand given");
    }
    const subcommand_entry* entry = find_subcommand(positional[0]);
    if (!entry)
        throw usage_error("unknown subcommand " + quoted(positional[0]));
    if (in_shell && !entry->in_shell)
        throw usage_error(std::string(entry->name) + " cannot run within the shell");
    if (!in_shell && entry->id == subcommand::exit)
        throw usage_error("exit ends the shell; outside it there is nothing to end");
    request made;
    made.what = entry->id;
    for (const given_option& option : given) {
        if (!option.entry->process_wide) {
            apply(made, option, *entry);
            continue;
        }
        const std::string name = option.entry->name;
        if (!process)
            throw usage_error(name + " applies to the whole shell: give it to fmtio shell");
        if (name == "--dll")
            process->dll = option.value;
        else if (name == "--ascii")
            process->ascii = true;
        else if (name == "--serial")
            process->serial = parse_serial_line(option.value);
        else
            process->resource = option.value;
    }
    if (made.help)
        return made;
    take_arguments(made, *entry, std::span(positional).subspan(1), in_shell);
    check_request(made);
    return made;
}

} // namespace

serial_line parse_serial_line(const std::string& text)
{
    const usage_error refused("--serial takes BAUD,DPS[,FLOW]: a baud rate, data bits (5-8), parity (N, O, E, M "
                              "or S), stop bits (1, 1.5 or 2), and none, xon, rts or dtr; not " +
                              quoted(text));
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos)
        throw refused;
    serial_line line;
    const auto [end, error] = std::from_chars(text.data(), text.data() + comma, line.baud_rate);
    if (error != std::errc() || end != text.data() + comma || line.baud_rate < 1 || line.baud_rate > 2147483646)
        throw refused;
    const std::size_t next = text.find(',', comma + 1);
    const std::string frame = text.substr(comma + 1, next == std::string::npos ? std::string::npos : next - comma - 1);
    constexpr std::string_view parities = "NOEMS";
    const std::size_t parity =
        frame.size() >= 3 ? parities.find(static_cast<char>(std::toupper(frame[1]))) : std::string_view::npos;
    const std::string stop = frame.size() >= 3 ? frame.substr(2) : "";
    if (parity == std::string_view::npos || frame[0] < '5' || frame[0] > '8' ||
        (stop != "1" && stop != "1.5" && stop != "2"))
        throw refused;
    line.data_bits = static_cast<short>(frame[0] - '0');
    line.parity = static_cast<long>(parity);
    line.stop_bits = stop == "1" ? 10 : stop == "2" ? 20 : 15;
    if (next != std::string::npos) {
        const std::string flow = text.substr(next + 1);
        constexpr std::pair<std::string_view, long> flows[] = {{"none", 0}, {"xon", 1}, {"rts", 2}, {"dtr", 4}};
        const auto found = std::ranges::find(flows, std::string_view(flow), &std::pair<std::string_view, long>::first);
        if (found == std::end(flows))
            throw refused;
        line.flow = found->second;
    }
    return line;
}

invocation parse_command_line(std::span<const std::string> arguments)
{
    invocation made;
    made.first = parse_request(arguments, false, &made);
    return made;
}

request parse_shell_line(std::span<const std::string> words) { return parse_request(words, true, nullptr); }

std::vector<std::string> split_words(std::string_view line)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        words.emplace_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

std::string usage_text()
{
    std::string text = "Usage: fmtio [OPTIONS] SUBCOMMAND [ARGUMENTS]\n\n"
                       "Formatted I/O with an instrument through the Morvane component.\n\nSubcommands:\n";
    for (const subcommand_entry& entry : subcommands)
        if (entry.id != subcommand::exit && entry.id != subcommand::read)
            text += "  " + std::string(entry.synopsis) + "\n";
    text += "\nOptions:\n"
            "  -r, --resource NAME  the resource to open (default SIM, the simulated instrument)\n"
            "  --dll PATH           load this Morvane.dll instead of the registered component\n"
            "  --serial BAUD,DPS[,FLOW]  a serial resource's line (default 9600,8N1): data bits,\n"
            "                       parity N/O/E/M/S, stop bits 1/1.5/2; flow none, xon, rts or dtr\n"
            "  --timeout MS         the session's timeout in milliseconds\n"
            "  --trace              show every session call on stderr, with its bytes, END and status\n"
            "  --ascii              show ASCII characters only\n"
            "  -h, --help           show help (of a subcommand, after its name)\n\n"
            "Types T: i2, i4, r4, r8, str, any (default for lists), ui1.\n"
            "Exit codes: 0 success, 1 I/O or instrument failure, 2 usage error.\n";
    return text;
}

std::string shell_help_text()
{
    std::string text = "Commands, one a line (options as on the command line, for that line):\n";
    for (const subcommand_entry& entry : subcommands)
        if (entry.in_shell)
            text += "  " + std::string(entry.synopsis) + "\n";
    text += "Without CMD, read-number, read-list and read-block read what the instrument has to say.\n";
    return text;
}

std::string subcommand_help(subcommand what)
{
    const subcommand_entry& entry = entry_of(what);
    std::string text = "Usage: fmtio " + std::string(entry.synopsis) + "\n\n" + entry.summary + "\n";
    if (entry.options & type_option)
        text += "\nTypes T: i2, i4, r4, r8, str, any, ui1 (blocks: i2, i4, r4, r8, ui1).\n";
    if (entry.options & order_option)
        text += "--little-endian: the instrument's byte order is little-endian (default big-endian).\n";
    text += "Every subcommand also takes --timeout MS, --trace and --help.\n";
    return text;
}

} // namespace fmtio
