#include "format/render_number.hpp"

#include <charconv>
#include <cstdint>
#include <stdexcept>

namespace morvane {

namespace {

int precision_of(VARTYPE code)
{
    switch (code) {
    case VT_I2: return 5;
    case VT_I4: return 10;
    case VT_R4: return 7;
    case VT_R8: return 15;
    case VT_UI1: return 3;
    }
    throw std::invalid_argument("render_number: not a number type");
}

template<typename Integer> std::size_t integer_text(Integer value, char* out)
{
    return static_cast<std::size_t>(std::to_chars(out, out + real_text_room, value).ptr - out);
}

} // namespace

std::size_t number_text(SHORT value, char* out) { return integer_text(value, out); }
std::size_t number_text(LONG value, char* out) { return integer_text(static_cast<std::int32_t>(value), out); }
// A byte goes out as digits, never raw.
std::size_t number_text(BYTE value, char* out) { return integer_text(static_cast<unsigned>(value), out); }
std::size_t number_text(FLOAT value, char* out) { return real_text(static_cast<double>(value), 7, out); }
std::size_t number_text(DOUBLE value, char* out) { return real_text(value, 15, out); }

std::size_t number_text(const VARIANT& value, VARTYPE code, char* out)
{
    switch (code) {
    case VT_I2: return number_text(V_I2(&value), out);
    case VT_I4: return number_text(V_I4(&value), out);
    case VT_R4: return number_text(V_R4(&value), out);
    case VT_R8: return number_text(V_R8(&value), out);
    case VT_UI1: return number_text(V_UI1(&value), out);
    }
    throw std::invalid_argument("render_number: not a number type");
}

// The stream's number insertion (byte_facets) gives the same text; writing it in place spares
// the insertion's machinery, which costs more than the text itself.
void render_number(basic_comostream& out, const VARIANT& value, VARTYPE code)
{
    out.precision(precision_of(code));
    out.write_formatted(real_text_room, [&](char* to) { return number_text(value, code, to); });
}

} // namespace morvane
