#pragma once
// WriteNumber's work: one number in the form that the number type names.
#include <cstdint>
#include "platform/variant.hpp"
#include "stream/comio_stream.hpp"

namespace morvane {

// `value` is the caller's private copy of the argument and is coerced in place; `type` is the
// number type's 32 bits.
void write_number(basic_comostream& out, unique_variant& value, std::uint32_t type);

} // namespace morvane
