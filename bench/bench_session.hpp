#pragma once
// A session that costs as little as a session can: writes are taken and dropped, and reads
// hand out a prepared response in chunks of the count asked, as a fast instrument would.
#include <windows.h>
#include <string>
#include <string_view>
#include <visacom.h>
#include "session_codes.hpp"

class bench_session final : public IMessage {
public:
    // The next reads return `response` as one message.
    void respond(const std::string& response)
    {
        m_response = response;
        lend(m_response);
    }
    // The same, without a copy: `response` must outlive the reads.
    void lend(std::string_view response)
    {
        m_lent = response;
        m_position = 0;
    }
    std::size_t bytes_written() const { return m_written; }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Write(SAFEARRAY** buffer, LONG count, LONG* written) override;
    STDMETHODIMP Read(LONG count, SAFEARRAY** buffer) override;
    STDMETHODIMP ReadString(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LastStatus(LONG* status) override { return *status = m_status, S_OK; }
    STDMETHODIMP get_SendEndEnabled(VARIANT_BOOL* on) override { return *on = m_send_end, S_OK; }
    STDMETHODIMP put_SendEndEnabled(VARIANT_BOOL on) override { return m_send_end = on, S_OK; }
    STDMETHODIMP get_TerminationCharacterEnabled(VARIANT_BOOL* on) override { return *on = VARIANT_FALSE, S_OK; }
    STDMETHODIMP put_TerminationCharacterEnabled(VARIANT_BOOL) override { return S_OK; }
    STDMETHODIMP get_Timeout(LONG* ms) override { return *ms = 2000, S_OK; }
    STDMETHODIMP put_Timeout(LONG) override { return S_OK; }

private:
    std::string m_response;
    std::string_view m_lent;
    std::size_t m_position = 0;
    std::size_t m_written = 0;
    LONG m_status = morvane::session::status_end;
    VARIANT_BOOL m_send_end = VARIANT_TRUE;
};
