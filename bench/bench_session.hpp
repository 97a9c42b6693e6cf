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
        response_ = response;
        lend(response_);
    }
    // The same, without a copy: `response` must outlive the reads.
    void lend(std::string_view response)
    {
        lent_ = response;
        position_ = 0;
    }
    std::size_t bytes_written() const { return written_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Write(SAFEARRAY** buffer, LONG count, LONG* written) override;
    STDMETHODIMP Read(LONG count, SAFEARRAY** buffer) override;
    STDMETHODIMP ReadString(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LastStatus(LONG* status) override { return *status = status_, S_OK; }
    STDMETHODIMP get_SendEndEnabled(VARIANT_BOOL* on) override { return *on = send_end_, S_OK; }
    STDMETHODIMP put_SendEndEnabled(VARIANT_BOOL on) override { return send_end_ = on, S_OK; }
    STDMETHODIMP get_TerminationCharacterEnabled(VARIANT_BOOL* on) override { return *on = VARIANT_FALSE, S_OK; }
    STDMETHODIMP put_TerminationCharacterEnabled(VARIANT_BOOL) override { return S_OK; }
    STDMETHODIMP get_Timeout(LONG* ms) override { return *ms = 2000, S_OK; }
    STDMETHODIMP put_Timeout(LONG) override { return S_OK; }

private:
    std::string response_;
    std::string_view lent_;
    std::size_t position_ = 0;
    std::size_t written_ = 0;
    LONG status_ = morvane::session::status_end;
    VARIANT_BOOL send_end_ = VARIANT_TRUE;
};
