// STUB until the number-text branch lands.
#include "format/render_number.hpp"
#include <charconv>
namespace morvane {
void render_number(basic_comostream& out, const VARIANT& value, VARTYPE code)
{
    char text[40];
    std::to_chars_result r{};
    switch (code) {
    case VT_I2: r = std::to_chars(text, text + 40, V_I2(&value)); break;
    case VT_I4: r = std::to_chars(text, text + 40, V_I4(&value)); break;
    case VT_R4: r = std::to_chars(text, text + 40, V_R4(&value)); break;
    case VT_R8: r = std::to_chars(text, text + 40, V_R8(&value)); break;
    default: r = std::to_chars(text, text + 40, unsigned(V_UI1(&value))); break;
    }
    out.write(reinterpret_cast<unsigned char*>(text), r.ptr - text);
}
}
