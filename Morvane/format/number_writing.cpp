// WriteNumber: one number in the form that the number type names.
#include "error/errors.hpp"
#include "format/render_number.hpp"
#include "object/arguments.hpp"
#include "object/fmtdio.hpp"

namespace morvane {

STDMETHODIMP CFmtdIOCls::WriteNumber(VARIANT data, NumberType type, VARIANT_BOOL flush_and_end)
{
    return frame(write_value_method, [&] {
        unique_variant value;
        copy_argument(value, data);
        check_io();
        // Any type (12) writes the value in its own type, whatever flags that type carries.
        VARTYPE write_type = number_type(type_bits(type));
        if (write_type == VT_VARIANT)
            write_type = value.type();
        else
            coerce(value, write_type);
        if (value.type() & VT_ARRAY)
            raise(number_is_array);
        switch (write_type) {
        case VT_BSTR:
            coerce(value, VT_R8);
            render_number(*m_output, *value, VT_R8);
            break;
        case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_UI1:
            render_number(*m_output, *value, write_type);
            break;
        default:
            raise(not_numeric);
        }
        if (flush_and_end)
            m_output->flush_with_end();
    });
}

} // namespace morvane
