#pragma once
#include "instrument.hpp"

namespace fmtio {

// A guided tour against the simulated instrument, each step checked; exit code 0 when every
// check passed.
int run_demo(instrument& device);

} // namespace fmtio
