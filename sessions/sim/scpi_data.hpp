#pragma once
// Program data in, response data out: numbers, mnemonics and their SCPI forms.
#include <cstdint>
#include <string>
#include <string_view>
#include "sim/scpi_parser.hpp"

namespace morvane::sim {

// True when `received` is the long form of `pattern` or its short form (the upper-case part
// of it: "SYSTem" accepts SYST and SYSTEM), in any case.
bool mnemonic_matches(std::string_view received, std::string_view pattern);
// The same for headers of ':'-separated mnemonics, node by node.
bool header_matches(std::string_view received, std::string_view pattern);

// A decimal number (NRf: 12, -1.5, .5, 3e-2). Not a number: -104; with a suffix: -138; too
// large: -222.
double to_number(const parameter& value);
// An NRf rounded to the nearest integer (halves away from zero), which must lie in [low, high]
// (-222 otherwise).
std::int64_t to_integer(const parameter& value, std::int64_t low, std::int64_t high);
// A character data parameter (starting with a letter), compared as mnemonic_matches does (-104
// when not one).
bool is_mnemonic(const parameter& value, std::string_view pattern);

// NR3 with nine significant digits: +1.23456789E+00.
std::string nr3(double value);
// The shortest text that reads back as the same value.
std::string shortest(double value);
std::string shortest(float value);

} // namespace morvane::sim
