#pragma once
#include "bound_component.hpp"

namespace fmtio {

// Runs commands from standard input, one a line, until `exit` or the end of the input.
// With `echo` every line is shown before its output. From a pipe: no prompt, and the exit
// code is the worst that a line had.
int run_shell(bound_component& io, bool echo);

} // namespace fmtio
