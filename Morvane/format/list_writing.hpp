#pragma once
// WriteList's work: the elements of an array as one list with a separator between them.
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include "stream/comio_stream.hpp"

namespace morvane {

// `type` is the number type's 32 bits; a null separator counts as an empty one.
void write_list(basic_comostream& out, const VARIANT& data, std::uint32_t type, BSTR separator);

} // namespace morvane
