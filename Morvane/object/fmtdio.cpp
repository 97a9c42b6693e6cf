#include "object/fmtdio.hpp"

#include "object/class_info.hpp"
#include "error/errors.hpp"
#include "error/messages.hpp"

namespace morvane {

// Output first, then input, then the session: each buffer sends or drains what it holds
// on its way out.
CFmtdIOCls::~CFmtdIOCls()
{
    m_output.reset();
    m_input.reset();
}

void CFmtdIOCls::check_io() const
{
    if (!m_input || !m_output)
        raise(no_io_resource);
}

void CFmtdIOCls::check_method_streams(const method_kind& kind)
{
    if (kind.input && m_input)
        raise_failure_or_clear(*m_input, m_input->last_error(), kind.failure);
    if (kind.output && m_output)
        raise_failure_or_clear(*m_output, m_output->last_error(), kind.failure);
}

STDMETHODIMP CFmtdIOCls::get_IO(IMessage** session)
{
    return frame(property_method, [&] {
        empty_out(session);
        // The query's own result is not passed on: nothing bound gives a null session.
        if (m_io)
            m_io->QueryInterface(IID_IMessage, reinterpret_cast<void**>(session));
    });
}

STDMETHODIMP CFmtdIOCls::putref_IO(IMessage* session)
{
    return frame(property_method, [&] {
        if (!session) {
            m_io.Reset();
            m_input.reset();
            m_output.reset();
            return;
        }
        check_in_ptr(session, sizeof session);
        if (session != m_io.Get())
            m_io = session;
        // Rebinding builds fresh streams, even for the same session, at the object's sizes.
        auto input =
            std::make_unique<basic_comistream>(std::make_unique<comio_buf>(session, m_inBufferSize, m_outBufferSize));
        auto output =
            std::make_unique<basic_comostream>(std::make_unique<comio_buf>(session, m_inBufferSize, m_outBufferSize));
        m_input = std::move(input);
        m_output = std::move(output);
    });
}

STDMETHODIMP CFmtdIOCls::get_InstrumentBigEndian(VARIANT_BOOL* big_endian)
{
    return frame(property_method, [&] {
        empty_out(big_endian);
        *big_endian = m_bigEndian;
    });
}

STDMETHODIMP CFmtdIOCls::put_InstrumentBigEndian(VARIANT_BOOL big_endian)
{
    // Any non-zero value counts as true and is kept as given.
    return frame(unchecked_method, [&] { m_bigEndian = big_endian; });
}

// ---- ISupportErrorInfo, IProvideClassInfo2

STDMETHODIMP CFmtdIOCls::InterfaceSupportsErrorInfo(REFIID riid)
{
    return InlineIsEqualGUID(riid, IID_IFormattedIO488) ? S_OK : S_FALSE;
}

STDMETHODIMP CFmtdIOCls::GetClassInfo(ITypeInfo** type_info)
{
    if (!type_info)
        return E_POINTER;
    *type_info = nullptr;
    return class_type_info(type_info);
}

STDMETHODIMP CFmtdIOCls::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid)
        return E_POINTER;
    *guid = GUID_NULL;
    // The class has no outgoing interface.
    return kind == GUIDKIND_DEFAULT_SOURCE_DISP_IID ? E_FAIL : E_INVALIDARG;
}

} // namespace morvane
