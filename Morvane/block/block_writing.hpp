#pragma once
// WriteIEEEBlock's work: an optional command and a space, then an array as a definite-length block.
#include <windows.h>
#include <oaidl.h>
#include "stream/comio_stream.hpp"

namespace morvane {

// A null or empty command is no command: the block goes alone. The array is checked whole
// before anything is written.
void write_ieee_block(basic_comostream& out, BSTR command, const VARIANT& data, bool big_endian);

} // namespace morvane
