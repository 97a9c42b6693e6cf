// WriteIEEEBlock: an optional command and a space, then an array as a definite-length block.
#include <string>
#include "block/binary_block.hpp"
#include "object/fmtdio.hpp"
#include "platform/ansi.hpp"

namespace morvane {

STDMETHODIMP CFmtdIOCls::WriteIEEEBlock(BSTR command, VARIANT data, VARIANT_BOOL flush_and_end)
{
    return frame(write_text_method, [&] {
        // A null command is no command: the block goes alone.
        if (command)
            check_in_ptr(command, sizeof *command);
        check_io();
        // The array is checked whole before anything is written.
        binary_block block(m_bigEndian != VARIANT_FALSE);
        block.from_array(data);
        if (SysStringLen(command) != 0) {
            const std::string text = to_ansi(std::wstring(bstr_view(command)) + L' ');
            m_output->write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::streamsize>(text.size()));
        }
        block.write_block(*m_output);
        if (flush_and_end)
            m_output->flush_with_end();
    });
}

} // namespace morvane
