#pragma once
#include "bound_component.hpp"

namespace fmtio {

// A guided tour against the simulated instrument, each step checked; exit code 0 when every
// check passed.
int run_demo(bound_component& io);

} // namespace fmtio
