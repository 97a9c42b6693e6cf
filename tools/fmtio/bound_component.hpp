#pragma once
// The component bound to the session of one resource, opened through the resource manager:
// the formatted-I/O calls and the session's own calls that the subcommands, the shell and the
// demo make, each checked, a failure thrown with its error information.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#include <visacom.h>
#include "options.hpp"
#include "resource.hpp"
#include "server_object.hpp"
#include "trace_session.hpp"
#include "values.hpp"

namespace fmtio {

using component = server_object<IFormattedIO488>;

struct connection_settings {
    std::optional<std::string> dll; // Morvane.dll
    std::string resource;
    bool trace = false;
    long open_timeout_ms = 2000; // how long a connection may take to open
};

class bound_component {
public:
    explicit bound_component(const connection_settings& settings);

    void trace(bool on) noexcept { m_trace->enable(on); }
    bool tracing() const noexcept { return m_trace->enabled(); }
    long timeout();
    void set_timeout(long milliseconds);
    const component& formatted_io() const noexcept { return m_component; }
    const resource_manager& manager() const noexcept { return m_manager; }

    // The session's own calls, beside IMessage.
    std::string resource_name();
    void clear();
    short read_status_byte();
    void assert_trigger();
    // IMorvaneLocking: an exclusive lock when `shared_name` is empty. A session without locks
    // fails with E_NOINTERFACE.
    void lock(long timeout_ms, const std::string& shared_name);
    void unlock();
    // IMorvaneServiceRequests: `command` written with requests enabled (and those queued before
    // dropped), then the status byte of the request that follows within `timeout_ms`. Requests
    // are disabled again, however it ends.
    short wait_for_service_request(std::string_view command, long timeout_ms);
    // IMorvaneSerialSettings: the line's settings, each checked; a session of another kind fails
    // with E_NOINTERFACE.
    void set_serial_line(const serial_line& line);

    // `command` with END; an empty command sends nothing.
    void write(std::string_view command);
    // The response to the end of its message, its trailing line end stripped; `command` is
    // named if the read fails.
    std::string read_string(std::string_view command);
    std::string query(std::string_view command);
    // The first number of the response, the rest of it dropped.
    std::string read_number(std::string_view command);
    value_list read_list(std::string_view command, element_type type, std::string_view separators);
    void write_list(std::string_view command, element_type type, std::span<const std::string> values,
                    std::string_view separator);
    value_list read_block(std::string_view command, element_type type, bool little_endian);
    void write_block(std::string_view command, morvane::unique_safearray data, bool little_endian);

private:
    // The session that the component is bound to: the trace in front of the resource's.
    IMessage* session() const noexcept { return m_session.Get(); }
    void check_io(HRESULT hr, std::string_view method, std::string_view command);
    void check_read(HRESULT hr, std::string_view method, std::string_view command);
    void set_byte_order(bool little_endian, std::string_view command);
    void check_control(HRESULT hr, std::string_view method, const std::string& result);
    Microsoft::WRL::ComPtr<IMorvaneLocking> locking();
    void check_locking(HRESULT hr, IMorvaneLocking* locks, const std::string& call, std::string_view context);

    // In this order, so that each server's DLL stays loaded until its objects have gone.
    resource_manager m_manager;
    component m_component;
    opened_session m_opened;
    Microsoft::WRL::ComPtr<IMessage> m_session; // the trace
    trace_session* m_trace;                     // the same object, kept alive by m_session
};

} // namespace fmtio
