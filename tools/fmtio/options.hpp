#pragma once
// The command line and shell lines: subcommands, their arguments and options, and help.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#include "values.hpp"

namespace fmtio {

// clang-format off
enum class subcommand { write, query, read, read_number, read_list, write_list, read_block, write_block, clear,
                        status_byte, trigger, srq, lock, unlock, find, info, shell, demo, help, exit };
// clang-format on

// One subcommand with what it was given.
struct request {
    subcommand what = subcommand::help;
    std::string command; // CMD: the words before the values, joined by spaces; find's EXPRESSION; lock's NAME
    std::vector<std::string> values; // VALUES of write-list and write-block
    std::optional<element_type> type;
    std::optional<std::string> separators;
    bool little_endian = false;
    std::optional<std::string> csv_file, svg_file, from_file;
    bool plot = false;
    std::optional<long> timeout;
    std::optional<long> lock_timeout;     // lock: none, the session's timeout
    std::optional<std::string> addresses; // find: the manager's DiscoveryAddresses
    std::optional<long> portmapper_port;  // find: the manager's PortmapperPort
    bool trace = false;
    bool help = false;
    bool echo = false;
    std::optional<subcommand> help_topic; // help SUBCOMMAND
};

// A serial line's settings as --serial gives them: BAUD,<data bits><parity><stop bits>[,FLOW].
struct serial_line {
    long baud_rate = 9600;
    short data_bits = 8;
    long parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    long stop_bits = 10; // tenths: 10, 15, 20
    long flow = 0;       // 0 none, 1 XON/XOFF, 2 RTS/CTS, 4 DTR/DSR
};

// Throws usage_error unless `text` is BAUD,8N1-like[,none|xon|rts|dtr].
serial_line parse_serial_line(const std::string& text);

// What applies to the whole process.
struct invocation {
    request first;
    std::string resource = "SIM";
    std::optional<std::string> dll;
    std::optional<serial_line> serial;
    bool ascii = false;
};

// Both throw usage_error for anything they cannot take.
invocation parse_command_line(std::span<const std::string> arguments);
request parse_shell_line(std::span<const std::string> words);

// The words of a shell line, split at blanks.
std::vector<std::string> split_words(std::string_view line);

std::string usage_text();
std::string shell_help_text();
std::string subcommand_help(subcommand what);

} // namespace fmtio
