#pragma once
// STUB until the number-text branch lands.
#include <windows.h>
#include <oaidl.h>
#include "stream/comio_stream.hpp"
namespace morvane {
void render_number(basic_comostream& out, const VARIANT& value, VARTYPE code);
}
