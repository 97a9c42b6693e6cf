#include "socket/socket_session.hpp"

#include <memory>
#include "stream_session.hpp"
#include "transport/tcp_connection.hpp"

namespace morvane::socket_session {
namespace {

using session::resource_not_found;

class socket_session : public stream_session<socket_session> {
public:
    static constexpr const wchar_t* error_source = L"Morvane TCP socket session";
    static constexpr const wchar_t* negative_timeout = L"The timeout must not be negative.";
    static constexpr const wchar_t* no_requests =
        L"A TCP socket session has no channel for service requests; poll *STB? instead.";

    socket_session(std::unique_ptr<transport::tcp_connection> connection, std::wstring resource_name, LONG timeout)
        : stream_session(std::move(connection), std::move(resource_name), timeout)
    {}
};

} // namespace

HRESULT open_socket_session(const socket_address& address, std::wstring_view resource_name, LONG timeout_ms,
                            IMessage** session)
{
    if (!session)
        return socket_session::null_pointer();
    *session = nullptr;
    try {
        auto connection = std::make_unique<transport::tcp_connection>(
            address.host, address.port, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms));
        *session =
            com_object<socket_session>::make<IMessage>(std::move(connection), std::wstring(resource_name), timeout_ms)
                .Detach();
        return S_OK;
    } catch (const transport::tcp_failure& failure) {
        return socket_session::report(resource_not_found, failure.text);
    } catch (const std::bad_alloc&) {
        return socket_session::report(E_OUTOFMEMORY, L"Not enough memory to open the session.");
    }
}

} // namespace morvane::socket_session
