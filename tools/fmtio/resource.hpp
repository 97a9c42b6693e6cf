#pragma once
// Resources: the names that -r takes, and the sessions opened on them. Only the simulated
// instrument exists so far; another kind adds an alternative to `resource`.
#include <string>
#include <string_view>
#include <variant>
#include <visacom.h>
#include "com_types.hpp"

namespace fmtio {

// "SIM": the simulated instrument, in this process.
struct simulated_resource {};

using resource = std::variant<simulated_resource>;

// Throws usage_error for a name that no kind of resource takes.
resource parse_resource(std::string_view name);
std::string describe(const resource& which);
com_ptr<IMessage> open_session(const resource& which);

} // namespace fmtio
