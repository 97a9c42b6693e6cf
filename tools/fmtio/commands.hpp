#pragma once
// The subcommands that work on the bound component: data on stdout, failures thrown.
#include "bound_component.hpp"
#include "options.hpp"

namespace fmtio {

void run_request(bound_component& io, const request& what);

// find: the names on stdout, one a line with the resource's identification; a note on stderr
// when none matches.
void list_resources(IMorvaneResourceManager* manager, const request& what);

// The help that `what` asks for, or none when it asks for none.
bool show_help(const request& what, bool in_shell);

} // namespace fmtio
