#include "socket/socket_session.hpp"

#include <oleauto.h>
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>
#include "message_session.hpp"
#include "platform/bstr.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "socket/socket_resource_name.hpp"
#include "socket/tcp_connection.hpp"

namespace morvane::socket_session {
namespace {

using namespace ::morvane::session;

class socket_session : public message_session<socket_session> {
public:
    static constexpr const wchar_t* error_source = L"Morvane TCP socket session";
    static HRESULT null_pointer() { return E_POINTER; }
    static constexpr const wchar_t* negative_timeout = L"The timeout must not be negative.";

    explicit socket_session(std::unique_ptr<tcp_connection> connection, LONG timeout)
        : message_session(timeout), connection_(std::move(connection)) {}

    STDMETHODIMP Write(SAFEARRAY** buffer, LONG count, LONG* written) override;
    STDMETHODIMP Read(LONG count, SAFEARRAY** buffer) override;
    STDMETHODIMP ReadString(LONG count, BSTR* text) override;
    STDMETHODIMP get_LastStatus(LONG* status) override { return get(last_status_, status); }

private:
    deadline until() const { return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms_); }
    HRESULT failed(const tcp_failure& failure);
    // The next response bytes, at most `count`, into a new array.
    HRESULT read_bytes(LONG count, unique_safearray& bytes);

    std::unique_ptr<tcp_connection> connection_;
    std::vector<unsigned char> pending_; // arrived, not yet read
    std::size_t pending_start_ = 0;
    LONG last_status_ = status_end;
    bool lost_ = false;
};

HRESULT socket_session::failed(const tcp_failure& failure)
{
    if (failure.kind == tcp_failure::timed_out)
        return report(timeout_expired, failure.text);
    lost_ = true;
    connection_.reset();
    return report(connection_lost, failure.text);
}

STDMETHODIMP socket_session::Write(SAFEARRAY** buffer, LONG count, LONG* written)
{
    if (!buffer || !*buffer || !written)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *written = 0;
    if (lost_)
        return report(connection_lost, L"The connection to the instrument was lost.");
    if (SafeArrayGetDim(*buffer) != 1 || SafeArrayGetElemsize(*buffer) != 1 || count < 0)
        return report(E_INVALIDARG, L"Write takes a one-dimensional array of bytes.");
    const LONG size = static_cast<LONG>((*buffer)->rgsabound[0].cElements);
    const LONG n = std::min(count, size);
    try {
        const safearray_data data(*buffer);
        connection_->send_all(data.bytes(), static_cast<std::size_t>(n), until());
        *written = n;
    } catch (const safearray_error&) {
        return report(E_INVALIDARG, L"The array cannot be read.");
    } catch (const tcp_failure& failure) {
        return failed(failure);
    }
    return S_OK;
}

HRESULT socket_session::read_bytes(LONG count, unique_safearray& bytes)
{
    if (count < 0)
        return report(E_INVALIDARG, L"The count must not be negative.");
    const std::size_t wanted = static_cast<std::size_t>(count);
    std::size_t searched = 0;
    // Every wait has the whole timeout: a response that keeps arriving is not cut off.
    for (deadline end = until();; end = until()) {
        const unsigned char* begin = pending_.data() + pending_start_;
        const std::size_t held = pending_.size() - pending_start_;
        const std::size_t window = std::min(held, wanted);
        std::size_t take = 0;
        if (termination_ && window > searched) {
            // A line feed ends the read, also as the count-th byte. (memchr takes no null
            // pointer, even for no bytes, and nothing may have arrived yet.)
            const auto* lf = static_cast<const unsigned char*>(std::memchr(begin + searched, '\n', window - searched));
            if (lf) {
                take = static_cast<std::size_t>(lf - begin) + 1;
                last_status_ = status_termination_character;
            }
            searched = window;
        }
        if (take == 0 && held >= wanted) {
            take = wanted;
            last_status_ = status_count_reached;
        }
        if (lost_) {
            if (held == 0)
                return report(connection_lost, L"The connection to the instrument was lost.");
            if (take == 0) {
                // What arrived before the connection went is the end of the message.
                take = window;
                last_status_ = status_end;
            }
        }
        if (take > 0 || wanted == 0) {
            bytes.reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(take)));
            if (!bytes)
                return report(E_OUTOFMEMORY, L"Not enough memory for the bytes read.");
            if (take > 0)
                std::memcpy(bytes->pvData, begin, take);
            pending_start_ += take;
            if (pending_start_ == pending_.size())
                pending_.clear(), pending_start_ = 0;
            return S_OK;
        }
        // Bytes that arrived before a timeout or a lost connection stay for the next read.
        try {
            if (pending_start_ > 0 && pending_start_ * 2 > pending_.size()) {
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pending_start_));
                pending_start_ = 0;
            }
            connection_->receive(pending_, end);
        } catch (const tcp_failure& failure) {
            if (failure.kind == tcp_failure::timed_out || held == 0)
                return failed(failure);
            lost_ = true;
            connection_.reset();
        }
    }
}

STDMETHODIMP socket_session::Read(LONG count, SAFEARRAY** buffer)
{
    if (!buffer)
        return E_POINTER;
    *buffer = nullptr;
    std::lock_guard guard(lock_);
    unique_safearray bytes;
    const HRESULT hr = read_bytes(count, bytes);
    *buffer = bytes.release();
    return hr;
}

STDMETHODIMP socket_session::ReadString(LONG count, BSTR* text)
{
    if (!text)
        return E_POINTER;
    *text = nullptr;
    std::lock_guard guard(lock_);
    unique_safearray bytes;
    if (const HRESULT hr = read_bytes(count, bytes); FAILED(hr))
        return hr;
    const int size = static_cast<int>(bytes->rgsabound[0].cElements);
    const auto* data = static_cast<const char*>(bytes->pvData);
    const int length = size ? MultiByteToWideChar(CP_ACP, 0, data, size, nullptr, 0) : 0;
    unique_bstr result(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
    if (!result)
        return report(E_OUTOFMEMORY, L"Not enough memory for the text read.");
    if (size)
        MultiByteToWideChar(CP_ACP, 0, data, size, result.get(), length);
    *text = result.release();
    return S_OK;
}

} // namespace

HRESULT open_socket_session(std::wstring_view resource, LONG timeout_ms, IMessage** session)
{
    if (!session)
        return E_POINTER;
    *session = nullptr;
    const std::optional<socket_address> parsed = parse_socket_resource_name(resource);
    if (!parsed)
        return socket_session::report(invalid_resource, L"The resource name \"" + std::wstring(resource) +
                                            L"\" is not supported; the supported form is " + supported_form + L".");
    try {
        auto connection = std::make_unique<tcp_connection>(
            parsed->host, parsed->port, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms));
        *session = com_object<socket_session>::make<IMessage>(std::move(connection), timeout_ms).Detach();
        return S_OK;
    } catch (const tcp_failure& failure) {
        return socket_session::report(resource_not_found, failure.text);
    } catch (const std::bad_alloc&) {
        return socket_session::report(E_OUTOFMEMORY, L"Not enough memory to open the session.");
    }
}

} // namespace morvane::socket_session
