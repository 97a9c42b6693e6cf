#pragma once
// The one rule that writes a number of element type 2, 3, 4, 5 or 17 onto the output stream,
// so that a number reads the same alone and as a list element.
#include <windows.h>
#include <oaidl.h>
#include "stream/number_text.hpp"
#include "stream/comio_stream.hpp"

namespace morvane {

// `value` holds the type of `code`. Sets the stream's precision for the code (it stays set)
// and writes the text that the stream's own number insertion gives with that precision,
// made straight in the put area; nothing before or after it. Any other code is a caller's
// error: std::invalid_argument, nothing written.
void render_number(basic_comostream& out, const VARIANT& value, VARTYPE code);

// That text, at `out` (room for real_text_room bytes); its length.
std::size_t number_text(const VARIANT& value, VARTYPE code, char* out);
// The same for a value of each number type: codes 2, 3, 17, 4 and 5.
std::size_t number_text(SHORT value, char* out);
std::size_t number_text(LONG value, char* out);
std::size_t number_text(BYTE value, char* out);
std::size_t number_text(FLOAT value, char* out);
std::size_t number_text(DOUBLE value, char* out);

} // namespace morvane
