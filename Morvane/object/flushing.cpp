// FlushWrite, FlushRead and SetBufferSize: acting on the stream buffers themselves.
#include "error/errors.hpp"
#include "error/messages.hpp"
#include "object/fmtdio.hpp"

namespace morvane {

STDMETHODIMP CFmtdIOCls::FlushWrite(VARIANT_BOOL send_end)
{
    return frame(flush_write_method, [&] {
        check_io();
        if (send_end)
            m_output->flush_with_end();
        else
            m_output->flush_output();
    });
}

STDMETHODIMP CFmtdIOCls::FlushRead()
{
    return frame(read_method, [&] {
        check_io();
        m_input->discard_input();
    });
}

STDMETHODIMP CFmtdIOCls::SetBufferSize(BufferMask mask, LONG size)
{
    const bool input = mask & BufferMask_Input;
    const bool output = mask & BufferMask_Output;
    return frame(resize_method(input, output), [&] {
        check_io();
        if (size < 1)
            raise(buffer_size_not_positive);
        if (input) {
            m_input->set_input_size(size);
            check_method_streams(resize_method(true, false)); // a failed input side leaves the output side alone
        }
        if (output)
            m_output->set_output_size(size);
        // The size applies to this binding only; a new binding starts at 1000 bytes again.
        return input || output ? S_OK : E_INVALIDARG;
    });
}

} // namespace morvane
