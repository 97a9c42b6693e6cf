#pragma once
// ReadList's work: one list response as an array of the requested element type.
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include "format/block_pool.hpp"
#include "stream/comio_stream.hpp"

namespace morvane {

// `type` is the number type's 32 bits; empty separators mean "," and ";". The values of a
// long list take their memory from `blocks`.
void read_list(basic_comistream& in, std::uint32_t type, BSTR separators, block_pool& blocks, VARIANT& data);

} // namespace morvane
