// WriteString and ReadString: text through the ANSI code page, to the end of a message.
#include <comdef.h>
#include <cwchar>
#include <string>
#include <vector>
#include "object/fmtdio.hpp"
#include "platform/ansi.hpp"

namespace morvane {
namespace {

// The text up to its first NUL, whatever the BSTR's recorded length.
std::wstring text_before_nul(BSTR data)
{
    try {
        return std::wstring(data, std::wcslen(data));
    } catch (const std::bad_alloc&) {
        throw _com_error(E_OUTOFMEMORY);
    }
}

} // namespace

STDMETHODIMP CFmtdIOCls::WriteString(BSTR data, VARIANT_BOOL flush_and_end)
{
    return frame(write_text_handlers, output_stream, [&] {
        check_in_ptr(data, sizeof *data);
        const std::wstring text = text_before_nul(data);
        check_io();

        const std::string bytes = to_ansi(text);
        m_output->write(reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
        // Sending the end is attempted even after a failed write, whose chunk is gone:
        // the empty buffer then reports message 115.
        if (flush_and_end)
            m_output->flush_with_end();
        if (!m_output->good())
            raise_recorded(m_output->buffer());
        return S_OK;
    });
}

STDMETHODIMP CFmtdIOCls::ReadString(BSTR* data)
{
    return frame(stream_handlers, input_stream, [&] {
        check_out_ptr(data, sizeof *data);
        check_io();

        // Everything up to the end-of-file that marks the end of the current message.
        std::vector<unsigned char> bytes;
        constexpr std::size_t step = 1000;
        while (m_input->good()) {
            const std::size_t size = bytes.size();
            bytes.resize(size + step);
            m_input->read(bytes.data() + size, static_cast<std::streamsize>(step));
            bytes.resize(size + static_cast<std::size_t>(m_input->gcount()));
        }
        if (m_input->bad() || !m_input->eof())
            raise_recorded(m_input->buffer());
        m_input->clear();

        *data = ansi_to_bstr({reinterpret_cast<const char*>(bytes.data()), bytes.size()}).release();
        return S_OK;
    });
}

} // namespace morvane
