// ReadNumber: the first number of a response, as a double.
#include "parse/number_reading.hpp"

#include "format/ieee488_formatter.hpp"
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

double read_number(basic_comistream& in, bool flush)
{
    ieee488_formatter number({}, VT_EMPTY);
    read_number(number, in, flush);
    if (in.bad())
        raise_recorded(in.last_error());
    return number.first_value();
}

} // namespace morvane
