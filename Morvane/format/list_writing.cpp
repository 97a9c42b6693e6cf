// WriteList: the elements of an array as one list with a separator between them.
#include "error/errors.hpp"
#include "format/ieee488_formatter.hpp"
#include "object/arguments.hpp"
#include "object/fmtdio.hpp"
#include "platform/ansi.hpp"

namespace morvane {

STDMETHODIMP CFmtdIOCls::WriteList(VARIANT* data, NumberType type, BSTR separator, VARIANT_BOOL flush_and_end)
{
    return frame(write_value_method, [&] {
        check_in_ptr(data, sizeof *data);
        check_io();
        if (!(V_VT(data) & VT_ARRAY))
            raise(list_not_array);
        const VARTYPE code = element_code(type_bits(type), E_INVALIDARG);
        // A null separator counts as an empty one: there is no default.
        if (SysStringLen(separator) != 1)
            raise(separator_not_single);
        ieee488_formatter list(to_ansi(bstr_view(separator)), code);
        list.load_array(*data);
        list.write_list(*m_output);
        if (flush_and_end)
            m_output->flush_with_end();
    });
}

} // namespace morvane
