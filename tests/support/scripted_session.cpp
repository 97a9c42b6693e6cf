#include "support/scripted_session.hpp"

#include <algorithm>
#include <oleauto.h>
#include <wrl/client.h>

namespace morvane::testing {
namespace {

void set_thread_error(HRESULT, const std::wstring& description)
{
    Microsoft::WRL::ComPtr<ICreateErrorInfo> created;
    CreateErrorInfo(&created);
    created->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    created->SetGUID(IID_IMessage);
    created->SetSource(const_cast<LPOLESTR>(session_error_text::source));
    created->SetHelpFile(const_cast<LPOLESTR>(session_error_text::help_file));
    created->SetHelpContext(session_error_text::help_context);
    Microsoft::WRL::ComPtr<IErrorInfo> record;
    created.As(&record);
    SetErrorInfo(0, record.Get());
}

} // namespace

void scripted_session::add_chunk(std::string bytes, long status)
{
    chunks_.push_back({std::move(bytes), status});
}

void scripted_session::respond(std::string_view response, std::initializer_list<std::size_t> chunk_sizes,
                               long final_status)
{
    for (std::size_t size : chunk_sizes) {
        add_chunk(std::string(response.substr(0, size)), status_count_reached);
        response.remove_prefix(std::min(size, response.size()));
    }
    add_chunk(std::string(response), final_status);
}

void scripted_session::fail(session_op op, int nth, HRESULT hr, std::optional<std::wstring> description)
{
    failures_.push_back({op, nth, hr, std::move(description)});
}

std::vector<session_op> scripted_session::ops() const
{
    std::vector<session_op> ops;
    for (const session_call& call : calls_)
        ops.push_back(call.op);
    return ops;
}

std::vector<std::string> scripted_session::writes() const
{
    std::vector<std::string> writes;
    for (const session_call& call : calls_)
        if (call.op == session_op::write)
            writes.push_back(call.bytes);
    return writes;
}

std::vector<long> scripted_session::read_counts() const
{
    std::vector<long> counts;
    for (const session_call& call : calls_)
        if (call.op == session_op::read)
            counts.push_back(call.count);
    return counts;
}

int scripted_session::count(session_op op) const
{
    return static_cast<int>(std::ranges::count(calls_, op, &session_call::op));
}

HRESULT scripted_session::record(session_call call)
{
    if (hook_)
        hook_(call);
    const session_op op = call.op;
    calls_.push_back(std::move(call));
    const int nth = count(op);
    for (const failure& planned : failures_) {
        if (planned.op == op && planned.nth == nth) {
            if (planned.description)
                set_thread_error(planned.hr, *planned.description);
            return planned.hr;
        }
    }
    return S_OK;
}

std::optional<std::string> scripted_session::take(long count)
{
    if (chunks_.empty())
        return std::nullopt;
    chunk& next = chunks_.front();
    const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0L)), next.bytes.size());
    std::string bytes = next.bytes.substr(0, size);
    next.bytes.erase(0, size);
    if (next.bytes.empty()) {
        last_status_ = next.status;
        chunks_.pop_front();
    } else {
        last_status_ = status_count_reached;
    }
    return bytes;
}

STDMETHODIMP scripted_session::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, IID_IMessage)) {
        *out = static_cast<IMessage*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP scripted_session::Write(SAFEARRAY** buffer, LONG count, LONG* written)
{
    session_call call{session_op::write, {}, count, send_end_ == VARIANT_TRUE};
    if (buffer && *buffer) {
        void* data = nullptr;
        SafeArrayAccessData(*buffer, &data);
        call.bytes.assign(static_cast<const char*>(data), static_cast<std::size_t>((*buffer)->rgsabound[0].cElements));
        SafeArrayUnaccessData(*buffer);
    }
    const HRESULT hr = record(std::move(call));
    if (SUCCEEDED(hr) && written)
        *written = count;
    return hr;
}

STDMETHODIMP scripted_session::Read(LONG count, SAFEARRAY** buffer)
{
    if (HRESULT hr = record({session_op::read, {}, count}); FAILED(hr))
        return hr;
    std::optional<std::string> bytes = take(count);
    if (!bytes) {
        set_thread_error(session_timeout, L"Timeout expired before operation completed.");
        return session_timeout;
    }
    *buffer = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes->size()));
    void* data = nullptr;
    SafeArrayAccessData(*buffer, &data);
    std::ranges::copy(*bytes, static_cast<char*>(data));
    SafeArrayUnaccessData(*buffer);
    return S_OK;
}

STDMETHODIMP scripted_session::ReadString(LONG count, BSTR* text)
{
    if (HRESULT hr = record({session_op::read_string, {}, count}); FAILED(hr))
        return hr;
    std::optional<std::string> bytes = take(count);
    if (!bytes) {
        set_thread_error(session_timeout, L"Timeout expired before operation completed.");
        return session_timeout;
    }
    *text = SysAllocStringLen(nullptr, static_cast<UINT>(bytes->size()));
    std::ranges::copy(*bytes, *text);
    return S_OK;
}

template <typename T>
HRESULT scripted_session::answer(session_op op, T value, T* out)
{
    if (HRESULT hr = record({op, {}, 0}); FAILED(hr))
        return hr;
    *out = value;
    return S_OK;
}

template <typename T>
HRESULT scripted_session::store(session_op op, T value, T& field)
{
    if (HRESULT hr = record({op, {}, long(value)}); FAILED(hr))
        return hr;
    field = value;
    return S_OK;
}

STDMETHODIMP scripted_session::get_LastStatus(LONG* status)
{
    return answer(session_op::last_status, last_status_, status);
}

STDMETHODIMP scripted_session::get_SendEndEnabled(VARIANT_BOOL* enabled)
{
    return answer(session_op::get_send_end, send_end_, enabled);
}

STDMETHODIMP scripted_session::put_SendEndEnabled(VARIANT_BOOL enabled)
{
    return store(session_op::put_send_end, enabled, send_end_);
}

STDMETHODIMP scripted_session::get_TerminationCharacterEnabled(VARIANT_BOOL* enabled)
{
    return answer(session_op::get_termination_character, termination_character_, enabled);
}

STDMETHODIMP scripted_session::put_TerminationCharacterEnabled(VARIANT_BOOL enabled)
{
    return store(session_op::put_termination_character, enabled, termination_character_);
}

STDMETHODIMP scripted_session::get_Timeout(LONG* milliseconds)
{
    return answer(session_op::get_timeout, timeout_, milliseconds);
}

STDMETHODIMP scripted_session::put_Timeout(LONG milliseconds)
{
    return store(session_op::put_timeout, milliseconds, timeout_);
}

} // namespace morvane::testing
