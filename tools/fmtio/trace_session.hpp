#pragma once
// A session that passes every call on to another and logs it: the bytes, END and the
// status, as an I/O monitor would show them.
// Made as com_object<trace_session>.
#include <windows.h>
#include <visacom.h>
#include <wrl/client.h>
#include "com/com_object.hpp"
#include "console.hpp"

namespace fmtio {

class trace_session : public IMessage, public ISupportErrorInfo {
public:
    using interfaces = morvane::interface_list<IMessage, ISupportErrorInfo>;

    trace_session(Microsoft::WRL::ComPtr<IMessage> inner, text_out& log) : m_inner(std::move(inner)), m_log(log) {}
    virtual ~trace_session() = default;
    trace_session(const trace_session&) = delete;
    trace_session& operator=(const trace_session&) = delete;

    void enable(bool on) noexcept { m_enabled = on; }
    // The last byte of the last Read, or -1 when it failed or gave none.
    int last_byte_read() const noexcept { return m_last_byte; }
    bool enabled() const noexcept { return m_enabled; }
    // Logs a call with its result, or with the HRESULT when it failed; also for the calls that
    // fmtio makes on the inner session's other interfaces. Returns hr.
    HRESULT log_result(const std::string& call, HRESULT hr, const std::string& result);

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
    // ISupportErrorInfo, answered as the inner session answers; S_FALSE when it has none
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    void log(const std::string& line);
    std::string status_of_last_read();

    Microsoft::WRL::ComPtr<IMessage> m_inner;
    text_out& m_log;
    bool m_enabled = true;
    int m_last_byte = -1;
};

// `bytes` as C-style text in quotes, cut after 256 bytes.
std::string shown_bytes(const unsigned char* bytes, std::size_t count);

} // namespace fmtio
