// WriteList: the elements of an array as one list with a separator between them.
#include "format/list_writing.hpp"

#include "error/errors.hpp"
#include "format/arguments.hpp"
#include "format/ieee488_formatter.hpp"
#include "platform/ansi.hpp"

namespace morvane {

void write_list(basic_comostream& out, const VARIANT& data, std::uint32_t type, BSTR separator)
{
    if (!(V_VT(&data) & VT_ARRAY))
        raise(list_not_array);
    const VARTYPE code = element_code(type, E_INVALIDARG);
    // A null separator counts as an empty one: there is no default.
    if (SysStringLen(separator) != 1)
        raise(separator_not_single);
    ieee488_formatter list(to_ansi(bstr_view(separator)), code);
    list.load_array(data);
    list.write_list(out);
}

} // namespace morvane
