// WriteIEEEBlock: an optional command and a space, then an array as a definite-length block.
#include "block/block_writing.hpp"

#include <string>
#include "block/binary_block.hpp"
#include "platform/ansi.hpp"

namespace morvane {

void write_ieee_block(basic_comostream& out, BSTR command, const VARIANT& data, bool big_endian)
{
    binary_block block(big_endian);
    block.from_array(data);
    if (SysStringLen(command) != 0) {
        const std::string text = to_ansi(std::wstring(bstr_view(command)) + L' ');
        out.write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::streamsize>(text.size()));
    }
    block.write_block(out);
}

} // namespace morvane
