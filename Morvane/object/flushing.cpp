// FlushWrite, FlushRead and SetBufferSize: acting on the stream buffers themselves.
#include "error/errors.hpp"
#include "error/messages.hpp"
#include "object/fmtdio.hpp"

namespace morvane {

STDMETHODIMP CFmtdIOCls::FlushWrite(VARIANT_BOOL send_end)
{
    return frame(stream_handlers, output_stream, [&] {
        check_io();
        if (send_end)
            m_output->flush_with_end();
        else
            m_output->flush_output();
        if (m_output->bad())
            raise_recorded(m_output->buffer());
        m_output->clear();
        return S_OK;
    });
}

STDMETHODIMP CFmtdIOCls::FlushRead()
{
    return frame(stream_handlers, input_stream, [&] {
        check_io();
        m_input->discard_input();
        if (m_input->bad())
            raise_recorded(m_input->buffer());
        m_input->clear();
        return S_OK;
    });
}

STDMETHODIMP CFmtdIOCls::SetBufferSize(BufferMask mask, LONG size)
{
    const bool input = mask & BufferMask_Input;
    const bool output = mask & BufferMask_Output;
    return frame(stream_handlers, {input, output}, [&] {
        check_io();
        if (size < 1)
            raise(buffer_size_not_positive);
        if (input) {
            m_input->set_input_size(size);
            if (m_input->bad())
                raise_recorded(m_input->buffer());
            m_input->clear();
        }
        if (output) {
            m_output->set_output_size(size);
            if (m_output->bad())
                raise_recorded(m_output->buffer());
            m_output->clear();
        }
        // The size applies to this binding only; a new binding starts at 1000 bytes again.
        return input || output ? S_OK : E_INVALIDARG;
    });
}

} // namespace morvane
