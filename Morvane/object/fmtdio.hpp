#pragma once
// CFmtdIOCls: the formatted-I/O object. It owns the binding to one message session and
// the two buffered streams over it; every interface method runs in one call frame that
// serialises calls, checks pointer arguments and the binding, and turns exceptions into
// HRESULTs with error information (call_frame.hpp).
//
// IUnknown is left to the COM object forms (com_object.hpp) that contain this class, so the
// same implementation serves stand-alone and aggregated objects.
#include <windows.h>
#include <ocidl.h>
#include <memory>
#include <mutex>
#include <type_traits>
#include <visacom.h>
#include <wrl/client.h>
#include "com/call_boundary.hpp"
#include "com/com_object.hpp"
#include "format/block_pool.hpp"
#include "object/call_frame.hpp"
#include "platform/critical_section.hpp"
#include "stream/comio_stream.hpp"

namespace morvane {

class CFmtdIOCls : public IFormattedIO488, public ISupportErrorInfo, public IProvideClassInfo2 {
public:
    using interfaces = interface_list<IFormattedIO488, ISupportErrorInfo, IProvideClassInfo2>;

    CFmtdIOCls() = default;
    virtual ~CFmtdIOCls();
    CFmtdIOCls(const CFmtdIOCls&) = delete;
    CFmtdIOCls& operator=(const CFmtdIOCls&) = delete;

    // IFormattedIO488
    STDMETHODIMP get_IO(IMessage** session) override;
    STDMETHODIMP putref_IO(IMessage* session) override;
    STDMETHODIMP get_InstrumentBigEndian(VARIANT_BOOL* big_endian) override;
    STDMETHODIMP put_InstrumentBigEndian(VARIANT_BOOL big_endian) override;
    STDMETHODIMP WriteString(BSTR data, VARIANT_BOOL flush_and_end) override;
    STDMETHODIMP WriteNumber(VARIANT data, NumberType type, VARIANT_BOOL flush_and_end) override;
    STDMETHODIMP WriteList(VARIANT* data, NumberType type, BSTR separator, VARIANT_BOOL flush_and_end) override;
    STDMETHODIMP WriteIEEEBlock(BSTR command, VARIANT data, VARIANT_BOOL flush_and_end) override;
    STDMETHODIMP ReadString(BSTR* data) override;
    STDMETHODIMP ReadNumber(NumberType type, VARIANT_BOOL flush_to_end, VARIANT* data) override;
    STDMETHODIMP ReadList(NumberType type, BSTR separators, VARIANT* data) override;
    STDMETHODIMP ReadIEEEBlock(NumberType type, VARIANT_BOOL seek_to_block, VARIANT_BOOL flush_to_end,
                               VARIANT* data) override;
    STDMETHODIMP FlushWrite(VARIANT_BOOL send_end) override;
    STDMETHODIMP FlushRead() override;
    STDMETHODIMP SetBufferSize(BufferMask mask, LONG size) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** type_info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

private:
    // The binding check of every I/O method: message 112 while no session is bound.
    void check_io() const;
    // Runs one method body in the call frame: the lock, the body (which returns nothing for
    // S_OK, or its HRESULT), the look at the method's streams, the method's handlers.
    template<typename Body> HRESULT frame(const method_kind& kind, Body&& body) noexcept;
    // The frame's look at the method's streams, also for a body that must stop at a failure.
    void check_method_streams(const method_kind& kind);

    critical_section m_lock; // first in, last out: held by every method, deleted after the rest
    Microsoft::WRL::ComPtr<IMessage> m_io;
    std::unique_ptr<basic_comistream> m_input;
    std::unique_ptr<basic_comostream> m_output;
    VARIANT_BOOL m_bigEndian = VARIANT_TRUE;
    const std::uint32_t m_inBufferSize = 1000;
    const std::uint32_t m_outBufferSize = 1000;
    block_pool m_blocks; // memory of long list reads, kept for the next one
};

} // namespace morvane

namespace morvane {

template<typename Body> HRESULT CFmtdIOCls::frame(const method_kind& kind, Body&& body) noexcept
{
    std::lock_guard guard(m_lock);
    return run_guarded(
        [&] {
            HRESULT hr = S_OK;
            if constexpr (std::is_void_v<decltype(body())>)
                body();
            else
                hr = body();
            check_method_streams(kind);
            return hr;
        },
        [&] {
            return translate_current_exception(
                kind.handlers, {kind.input ? m_input.get() : nullptr, kind.output ? m_output.get() : nullptr});
        });
}

} // namespace morvane
