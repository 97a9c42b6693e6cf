// WriteNumber: one number in the form that the number type names.
#include "format/number_writing.hpp"

#include "error/errors.hpp"
#include "format/arguments.hpp"
#include "format/render_number.hpp"

namespace morvane {

void write_number(basic_comostream& out, unique_variant& value, std::uint32_t type)
{
    // Any type (12) writes the value in its own type, whatever flags that type carries.
    VARTYPE write_type = number_type(type);
    if (write_type == VT_VARIANT)
        write_type = value.type();
    else
        coerce(value, write_type);
    if (value.type() & VT_ARRAY)
        raise(number_is_array);
    switch (write_type) {
    case VT_BSTR:
        coerce(value, VT_R8);
        render_number(out, *value, VT_R8);
        break;
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_UI1: render_number(out, *value, write_type); break;
    default: raise(not_numeric);
    }
}

} // namespace morvane
