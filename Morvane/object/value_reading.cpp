// ReadNumber, ReadList, ReadIEEEBlock: the frame around the reading of the layers below.
#include "block/block_reading.hpp"
#include "format/arguments.hpp"
#include "object/fmtdio.hpp"
#include "parse/list_reading.hpp"
#include "parse/number_reading.hpp"

namespace morvane {

STDMETHODIMP CFmtdIOCls::ReadNumber(NumberType, VARIANT_BOOL flush_to_end, VARIANT* data)
{
    // The number type has no effect: the result is a double whatever it is.
    return frame(read_method, [&] {
        clear_result(data);
        check_io();
        const double value = read_number(*m_input, flush_to_end != 0);
        V_VT(data) = VT_R8;
        V_R8(data) = value;
    });
}

STDMETHODIMP CFmtdIOCls::ReadList(NumberType type, BSTR separators, VARIANT* data)
{
    return frame(read_list_method, [&] {
        init_result(data);
        check_io();
        read_list(*m_input, type_bits(type), separators, m_blocks, *data);
    });
}

STDMETHODIMP CFmtdIOCls::ReadIEEEBlock(NumberType type, VARIANT_BOOL seek_to_block, VARIANT_BOOL flush_to_end,
                                       VARIANT* data)
{
    return frame(read_method, [&] {
        init_result(data);
        check_io();
        read_ieee_block(*m_io.Get(), seek_to_block != VARIANT_FALSE, m_bigEndian != VARIANT_FALSE, type_bits(type),
                        *data, [&] {
                            // Input that an earlier read left in the stream is no part of the block.
                            if (flush_to_end && !m_input->eof())
                                m_input->discard_input();
                            check_method_streams(read_method);
                        });
    });
}

} // namespace morvane
