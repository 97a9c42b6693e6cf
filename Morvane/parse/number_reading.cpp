// ReadNumber: the first number of a response, as a double.
#include <cstring>
#include <stdexcept>
#include "format/ieee488_formatter.hpp"
#include "object/fmtdio.hpp"
#include "parse/formattedio_parse.hpp"

namespace morvane {

void ieee488_formatter::read_number(basic_comistream& in, bool flush)
{
    if (!in.good())
        return;
    m_parsed.emplace(VT_R8, nullptr);
    attach(in);
    formattedio_parse parser(this);
    parser.parse(flush ? read_kind::number_rest_discarded : read_kind::number_rest_kept, ",");
    if (flush) {
        in.sync();
        return;
    }
    // The scanner took the whole response; what followed the number is read again next time.
    in.clear();
    in.buffer().put_back(parser.scanner()->saved_rest());
}

double ieee488_formatter::first_value() const
{
    if (!m_parsed || m_parsed->size() == 0)
        throw std::out_of_range("no number was read");
    double value;
    std::memcpy(&value, m_parsed->first(), sizeof value);
    return value;
}

STDMETHODIMP CFmtdIOCls::ReadNumber(NumberType, VARIANT_BOOL flush_to_end, VARIANT* data)
{
    // The number type has no effect: the result is a double whatever it is.
    return frame(read_method, [&] {
        clear_result(data);
        check_io();
        ieee488_formatter number({}, VT_EMPTY);
        number.read_number(*m_input, flush_to_end != 0);
        if (m_input->bad())
            raise_recorded(m_input->last_error());
        const double value = number.first_value();
        V_VT(data) = VT_R8;
        V_R8(data) = value;
    });
}

} // namespace morvane
