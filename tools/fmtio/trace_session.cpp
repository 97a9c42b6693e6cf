#include "trace_session.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include "failure.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

constexpr std::size_t shown_limit = 256;

std::string yes_no(VARIANT_BOOL value) { return value ? "true" : "false"; }

std::string bytes_text(std::size_t count, const std::string& shown)
{
    return std::to_string(count) + (count == 1 ? " byte " : " bytes ") + shown;
}

std::string status_text(LONG status)
{
    const std::string code = hex(static_cast<unsigned long>(status));
    switch (status) {
    case morvane::session::status_end: return code + " (END)";
    case morvane::session::status_termination_character: return code + " (termination character)";
    case morvane::session::status_count_reached: return code + " (count reached)";
    default: return code;
    }
}

// The array's bytes, or none when the platform does not give them: a trace never fails a call.
std::optional<morvane::safearray_data> reach(SAFEARRAY* array) noexcept
{
    try {
        return std::optional<morvane::safearray_data>(std::in_place, array);
    } catch (const morvane::safearray_error&) {
        return std::nullopt;
    }
}

} // namespace

std::string shown_bytes(const unsigned char* bytes, std::size_t count)
{
    std::string text = "\"";
    for (std::size_t i = 0; i < std::min(count, shown_limit); ++i) {
        const unsigned char byte = bytes[i];
        switch (byte) {
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        case '"': text += "\\\""; break;
        case '\\': text += "\\\\"; break;
        default:
            if (byte >= 0x20 && byte < 0x7F) {
                text += static_cast<char>(byte);
            } else {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X", byte);
                text += escape;
            }
        }
    }
    text += "\"";
    if (count > shown_limit)
        text += "... (" + std::to_string(count - shown_limit) + " more)";
    return text;
}

void trace_session::log(const std::string& line)
{
    if (m_enabled)
        m_log.write("trace: " + line + "\n");
}

// After a failure nothing more is asked of the session, whose error information is still to
// be taken.
HRESULT trace_session::log_result(const std::string& call, HRESULT hr, const std::string& result)
{
    log(call + " -> " + (FAILED(hr) ? "failed " + hex(static_cast<unsigned long>(hr)) : result));
    return hr;
}

std::string trace_session::status_of_last_read()
{
    LONG status = 0;
    return SUCCEEDED(m_inner->get_LastStatus(&status)) ? status_text(status) : "unknown";
}

STDMETHODIMP trace_session::Write(SAFEARRAY** buffer, LONG count, LONG* written)
{
    if (!m_enabled)
        return m_inner->Write(buffer, count, written);
    VARIANT_BOOL end = VARIANT_FALSE;
    const std::string end_text = FAILED(m_inner->get_SendEndEnabled(&end)) ? "END unknown" : end ? "END" : "no END";
    std::string bytes = std::to_string(count) + " bytes, no array";
    if (buffer && *buffer && SafeArrayGetDim(*buffer) == 1) {
        const std::size_t size = std::min<std::size_t>((*buffer)->rgsabound[0].cElements, std::max<LONG>(count, 0));
        if (const std::optional<morvane::safearray_data> data = reach(*buffer))
            bytes = bytes_text(size, shown_bytes(data->bytes(), size));
    }
    const HRESULT hr = m_inner->Write(buffer, count, written);
    return log_result("Write " + bytes + ", " + end_text, hr, written ? std::to_string(*written) + " written" : "");
}

STDMETHODIMP trace_session::Read(LONG count, SAFEARRAY** buffer)
{
    const HRESULT hr = m_inner->Read(count, buffer);
    m_last_byte = -1;
    std::string result = "no array";
    if (SUCCEEDED(hr) && buffer && *buffer && SafeArrayGetDim(*buffer) == 1) {
        const std::size_t size = (*buffer)->rgsabound[0].cElements;
        if (const std::optional<morvane::safearray_data> data = reach(*buffer)) {
            const unsigned char* bytes = data->bytes();
            if (size > 0)
                m_last_byte = bytes[size - 1];
            if (m_enabled)
                result = bytes_text(size, shown_bytes(bytes, size));
        }
    }
    if (!m_enabled || FAILED(hr) || !buffer)
        return log_result("Read " + std::to_string(count), hr, "");
    return log_result("Read " + std::to_string(count), hr, result + ", status " + status_of_last_read());
}

STDMETHODIMP trace_session::ReadString(LONG count, BSTR* text)
{
    const HRESULT hr = m_inner->ReadString(count, text);
    if (!m_enabled || FAILED(hr) || !text)
        return log_result("ReadString " + std::to_string(count), hr, "");
    const std::string utf8 = bstr_to_utf8(*text);
    const std::string shown = shown_bytes(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
    return log_result("ReadString " + std::to_string(count), hr,
                      std::to_string(SysStringLen(*text)) + " characters " + shown + ", status " +
                          status_of_last_read());
}

STDMETHODIMP trace_session::get_LastStatus(LONG* status)
{
    const HRESULT hr = m_inner->get_LastStatus(status);
    return log_result("get LastStatus", hr, status ? status_text(*status) : "");
}

STDMETHODIMP trace_session::get_SendEndEnabled(VARIANT_BOOL* enabled)
{
    const HRESULT hr = m_inner->get_SendEndEnabled(enabled);
    return log_result("get SendEndEnabled", hr, enabled ? yes_no(*enabled) : "");
}

STDMETHODIMP trace_session::put_SendEndEnabled(VARIANT_BOOL enabled)
{
    return log_result("put SendEndEnabled " + yes_no(enabled), m_inner->put_SendEndEnabled(enabled), "ok");
}

STDMETHODIMP trace_session::get_TerminationCharacterEnabled(VARIANT_BOOL* enabled)
{
    const HRESULT hr = m_inner->get_TerminationCharacterEnabled(enabled);
    return log_result("get TerminationCharacterEnabled", hr, enabled ? yes_no(*enabled) : "");
}

STDMETHODIMP trace_session::put_TerminationCharacterEnabled(VARIANT_BOOL enabled)
{
    return log_result("put TerminationCharacterEnabled " + yes_no(enabled),
                      m_inner->put_TerminationCharacterEnabled(enabled), "ok");
}

STDMETHODIMP trace_session::get_Timeout(LONG* milliseconds)
{
    const HRESULT hr = m_inner->get_Timeout(milliseconds);
    return log_result("get Timeout", hr, milliseconds ? std::to_string(*milliseconds) : "");
}

STDMETHODIMP trace_session::put_Timeout(LONG milliseconds)
{
    return log_result("put Timeout " + std::to_string(milliseconds), m_inner->put_Timeout(milliseconds), "ok");
}

STDMETHODIMP trace_session::InterfaceSupportsErrorInfo(REFIID riid)
{
    Microsoft::WRL::ComPtr<ISupportErrorInfo> inner;
    return SUCCEEDED(m_inner.As(&inner)) ? inner->InterfaceSupportsErrorInfo(riid) : S_FALSE;
}

} // namespace fmtio
