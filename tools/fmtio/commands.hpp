#pragma once
// The subcommands that work on an open instrument: data on stdout, failures thrown.
#include "instrument.hpp"
#include "options.hpp"

namespace fmtio {

void run_request(instrument& device, const request& what, const resource& where);

// The help that `what` asks for, or none when it asks for none.
bool show_help(const request& what, bool in_shell);

} // namespace fmtio
