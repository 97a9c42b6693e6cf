#include "format/render_number.hpp"

#include <stdexcept>

namespace morvane {

void render_number(basic_comostream& out, const VARIANT& value, VARTYPE code)
{
    switch (code) {
    case VT_I2:
        out.precision(5);
        out << V_I2(&value);
        break;
    case VT_I4:
        out.precision(10);
        out << static_cast<long>(V_I4(&value));
        break;
    case VT_R4:
        out.precision(7);
        out << V_R4(&value);
        break;
    case VT_R8:
        out.precision(15);
        out << V_R8(&value);
        break;
    case VT_UI1:
        out.precision(3);
        // A byte inserted as a character would go out raw; as a number it goes out as digits.
        out << static_cast<unsigned short>(V_UI1(&value));
        break;
    default:
        throw std::invalid_argument("render_number: not a number type");
    }
}

} // namespace morvane
