#include "support/scripted_session.hpp"

#include <algorithm>
#include <numeric>
#include <wrl/client.h>

namespace morvane::testing {
namespace {

void set_thread_error(const std::wstring& description)
{
    Microsoft::WRL::ComPtr<ICreateErrorInfo> created;
    CreateErrorInfo(&created);
    created->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    created->SetGUID(IID_IMessage);
    created->SetSource(const_cast<LPOLESTR>(session_source));
    created->SetHelpFile(const_cast<LPOLESTR>(session_help_file));
    created->SetHelpContext(session_help_context);
    Microsoft::WRL::ComPtr<IErrorInfo> record;
    created.As(&record);
    SetErrorInfo(0, record.Get());
}

} // namespace

lines operator+(lines a, const lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

lines chunk(std::size_t n)
{
    return {"get_send_end", "put_send_end 0", "write " + std::to_string(n) + " noend", "put_send_end -1"};
}

std::string pattern(std::size_t n)
{
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i)
        bytes.push_back(static_cast<char>(i % 251 + 1 == '\n' ? 0xFF : i % 251 + 1));
    return bytes;
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

lines scripted_session::trace() const
{
    // A trailing space: the call's count or value follows.
    static const char* const names[] = {"write ",       "read ",         "read_string ", "last_status",
                                        "get_send_end", "put_send_end ", "get_termchar", "put_termchar ",
                                        "get_timeout",  "put_timeout "};
    lines calls;
    for (const session_call& call : m_calls) {
        std::string line = names[static_cast<int>(call.op)];
        if (line.ends_with(' '))
            line += std::to_string(call.count);
        if (call.op == session_op::write)
            line += call.send_end ? " end" : " noend";
        calls.push_back(line);
    }
    return calls;
}

std::string scripted_session::sent() const
{
    const lines all = writes();
    return std::accumulate(all.begin(), all.end(), std::string());
}

lines scripted_session::writes() const
{
    lines writes;
    for (const session_call& call : m_calls)
        if (call.op == session_op::write)
            writes.push_back(call.bytes);
    return writes;
}

int scripted_session::count(session_op op) const
{
    return static_cast<int>(std::ranges::count(m_calls, op, &session_call::op));
}

HRESULT scripted_session::record(session_call call)
{
    if (m_hook)
        m_hook(call);
    const session_op op = call.op;
    m_calls.push_back(std::move(call));
    for (const failure& planned : m_failures)
        if (planned.op == op && planned.nth == count(op)) {
            if (planned.description)
                set_thread_error(*planned.description);
            return planned.hr;
        }
    return S_OK;
}

HRESULT scripted_session::read(session_op op, long count, const std::function<void(const std::string&)>& hand_out)
{
    const in_call scope(*this);
    if (HRESULT hr = record({op, {}, count}); FAILED(hr))
        return hr;
    if (m_chunks.empty()) {
        set_thread_error(session_timed_out);
        return session_timeout;
    }
    std::string taken;
    do {
        auto& [bytes, status] = m_chunks.front();
        const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(count) - taken.size());
        taken.append(bytes, 0, n);
        bytes.erase(0, n);
        m_last_status = bytes.empty() ? status : status_count_reached;
        if (bytes.empty())
            m_chunks.pop_front();
    } while (m_join && taken.size() < static_cast<std::size_t>(count) && !m_chunks.empty() &&
             m_last_status != status_end && m_last_status != status_termination_character);
    hand_out(taken);
    return S_OK;
}

STDMETHODIMP scripted_session::QueryInterface(REFIID riid, void** out)
{
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
    const in_call scope(*this);
    SwitchToThread(); // another caller that is not kept out would get in here
    const auto* data = static_cast<const char*>((*buffer)->pvData);
    const HRESULT hr =
        record({session_op::write, {data, (*buffer)->rgsabound[0].cElements}, count, m_send_end != VARIANT_FALSE});
    if (SUCCEEDED(hr))
        *written = count;
    return hr;
}

STDMETHODIMP scripted_session::Read(LONG count, SAFEARRAY** buffer)
{
    return read(session_op::read, count, [this, buffer](const std::string& bytes) {
        if (!m_guard)
            *buffer = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        else if (SUCCEEDED(SafeArrayAllocDescriptorEx(VT_UI1, 1, buffer))) // static data: the session keeps the bytes
            (*buffer)->fFeatures |= FADF_STATIC, (*buffer)->rgsabound[0] = {static_cast<ULONG>(bytes.size()), 0},
                                                 (*buffer)->pvData = m_guarded.emplace_back(bytes.size()).data();
        std::ranges::copy(bytes, static_cast<char*>((*buffer)->pvData));
    });
}

STDMETHODIMP scripted_session::ReadString(LONG count, BSTR* text)
{
    return read(session_op::read_string, count, [text](const std::string& bytes) {
        *text = SysAllocStringLen(nullptr, static_cast<UINT>(bytes.size()));
        std::ranges::copy(bytes, *text);
    });
}

} // namespace morvane::testing
