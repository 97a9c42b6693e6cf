// WriteNumber, WriteList, WriteIEEEBlock: the frame around the writing of the layers below.
#include "block/block_writing.hpp"
#include "format/arguments.hpp"
#include "format/list_writing.hpp"
#include "format/number_writing.hpp"
#include "object/fmtdio.hpp"

namespace morvane {

STDMETHODIMP CFmtdIOCls::WriteNumber(VARIANT data, NumberType type, VARIANT_BOOL flush_and_end)
{
    return frame(write_value_method, [&] {
        unique_variant value;
        copy_argument(value, data);
        check_io();
        write_number(*m_output, value, type_bits(type));
        if (flush_and_end)
            m_output->flush_with_end();
    });
}

STDMETHODIMP CFmtdIOCls::WriteList(VARIANT* data, NumberType type, BSTR separator, VARIANT_BOOL flush_and_end)
{
    return frame(write_value_method, [&] {
        check_in_ptr(data, sizeof *data);
        check_io();
        write_list(*m_output, *data, type_bits(type), separator);
        if (flush_and_end)
            m_output->flush_with_end();
    });
}

STDMETHODIMP CFmtdIOCls::WriteIEEEBlock(BSTR command, VARIANT data, VARIANT_BOOL flush_and_end)
{
    return frame(write_text_method, [&] {
        // A null command is no command: the block goes alone.
        if (command)
            check_in_ptr(command, sizeof *command);
        check_io();
        write_ieee_block(*m_output, command, data, m_bigEndian != VARIANT_FALSE);
        if (flush_and_end)
            m_output->flush_with_end();
    });
}

} // namespace morvane
