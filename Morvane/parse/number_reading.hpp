#pragma once
// ReadNumber's work: the first number of a response, as a double.
#include "stream/comio_stream.hpp"

namespace morvane {

// The first number of the response in `in`; the rest stays for the next read unless `flush`.
// A failure of the session raises the error that the stream recorded.
double read_number(basic_comistream& in, bool flush);

} // namespace morvane
