#pragma once
// A session that passes every call on to another and logs it: the bytes, END and the
// status, as an I/O monitor would show them.
#include <windows.h>
#include <atomic>
#include <visacom.h>
#include "com_types.hpp"
#include "console.hpp"

namespace fmtio {

class trace_session final : public IMessage, public ISupportErrorInfo {
public:
    trace_session(com_ptr<IMessage> inner, text_out& log) : inner_(std::move(inner)), log_(log) {}

    void enable(bool on) noexcept { enabled_ = on; }
    // The last byte of the last Read, or -1 when it failed or gave none.
    int last_byte_read() const noexcept { return last_byte_; }
    bool enabled() const noexcept { return enabled_; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IMessage
    STDMETHODIMP Write(SAFEARRAY** buffer, LONG count, LONG* written) override;
    STDMETHODIMP Read(LONG count, SAFEARRAY** buffer) override;
    STDMETHODIMP ReadString(LONG count, BSTR* text) override;
    STDMETHODIMP get_LastStatus(LONG* status) override;
    STDMETHODIMP get_SendEndEnabled(VARIANT_BOOL* enabled) override;
    STDMETHODIMP put_SendEndEnabled(VARIANT_BOOL enabled) override;
    STDMETHODIMP get_TerminationCharacterEnabled(VARIANT_BOOL* enabled) override;
    STDMETHODIMP put_TerminationCharacterEnabled(VARIANT_BOOL enabled) override;
    STDMETHODIMP get_Timeout(LONG* milliseconds) override;
    STDMETHODIMP put_Timeout(LONG milliseconds) override;
    // ISupportErrorInfo, answered as the inner session answers
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    ~trace_session() = default;
    void log(const std::string& line);
    HRESULT log_result(const std::string& call, HRESULT hr, const std::string& result);
    std::string status_of_last_read();

    std::atomic<ULONG> references_{1};
    com_ptr<IMessage> inner_;
    text_out& log_;
    bool enabled_ = true;
    int last_byte_ = -1;
};

// `bytes` as C-style text in quotes, cut after 256 bytes.
std::string shown_bytes(const unsigned char* bytes, std::size_t count);

} // namespace fmtio
