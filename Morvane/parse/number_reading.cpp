// ReadNumber: the first number of a response, as a double.
#include "format/ieee488_formatter.hpp"
#include "object/fmtdio.hpp"
#include "parse/formattedio_parse.hpp"

namespace morvane {
namespace {

// The first number of the response; the rest stays for the next read unless `flush`.
void read_number(ieee488_formatter& number, basic_comistream& in, bool flush)
{
    if (!in.good())
        return;
    number.start_reading(in, VT_R8);
    formattedio_parse parser(&number);
    parser.parse(flush ? read_kind::number_rest_discarded : read_kind::number_rest_kept, ",");
    if (flush) {
        in.sync();
        return;
    }
    // The scanner took the whole response; what followed the number is read again next time.
    in.clear();
    in.buffer().put_back(parser.scanner()->saved_rest());
}

} // namespace

STDMETHODIMP CFmtdIOCls::ReadNumber(NumberType, VARIANT_BOOL flush_to_end, VARIANT* data)
{
    // The number type has no effect: the result is a double whatever it is.
    return frame(read_method, [&] {
        clear_result(data);
        check_io();
        ieee488_formatter number({}, VT_EMPTY);
        read_number(number, *m_input, flush_to_end != 0);
        if (m_input->bad())
            raise_recorded(m_input->last_error());
        const double value = number.first_value();
        V_VT(data) = VT_R8;
        V_R8(data) = value;
    });
}

} // namespace morvane
