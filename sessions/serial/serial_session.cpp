#include "serial/serial_session.hpp"

#include <memory>
#include <new>
#include "serial/serial_port.hpp"
#include "stream_session.hpp"

namespace morvane::serial {
namespace {

const IID& settings_id = IID_IMorvaneSerialSettings;

class serial_session : public stream_session<serial_session>, public IMorvaneSerialSettings {
public:
    static constexpr const wchar_t* error_source = L"Morvane serial session";
    static constexpr const wchar_t* negative_timeout = L"The timeout must not be negative.";
    static constexpr const wchar_t* no_requests =
        L"A serial session has no channel for service requests; poll *STB? instead.";

    using interfaces = interface_list<IMessage, IMorvaneSession, IMorvaneSessionLimits, IMorvaneServiceRequests,
                                      IConnectionPointContainer, IMorvaneSerialSettings, ISupportErrorInfo>;

    serial_session(std::unique_ptr<serial_port> port, std::wstring resource_name, LONG timeout)
        : stream_session(std::move(port), std::move(resource_name), timeout),
          m_port(static_cast<serial_port*>(m_connection.get()))
    {}

    STDMETHODIMP get_BaudRate(LONG* baud) final { return get(m_settings.baud_rate, baud, settings_id); }
    STDMETHODIMP put_BaudRate(LONG baud) final
    {
        return change(baud >= 1 && baud < 0x7FFFFFFF, L"The baud rate must be from 1 to 2147483646.",
                      [&](line_settings& s) { s.baud_rate = baud; });
    }
    STDMETHODIMP get_DataBits(short* bits) final { return get(m_settings.data_bits, bits, settings_id); }
    STDMETHODIMP put_DataBits(short bits) final
    {
        return change(bits >= 5 && bits <= 8, L"Data bits must be from 5 to 8.",
                      [&](line_settings& s) { s.data_bits = bits; });
    }
    STDMETHODIMP get_Parity(LONG* parity) final { return get(m_settings.parity, parity, settings_id); }
    STDMETHODIMP put_Parity(LONG parity) final
    {
        return change(parity >= NOPARITY && parity <= SPACEPARITY,
                      L"The parity must be 0 (none), 1 (odd), 2 (even), 3 (mark) or 4 (space).",
                      [&](line_settings& s) { s.parity = parity; });
    }
    STDMETHODIMP get_StopBits(LONG* tenths) final
    {
        return frame(settings_id, [&] {
            if (!tenths)
                return null_pointer(settings_id);
            const std::lock_guard guard(m_lock);
            *tenths = m_settings.stop_bits == ONESTOPBIT ? 10 : m_settings.stop_bits == ONE5STOPBITS ? 15 : 20;
            return S_OK;
        });
    }
    STDMETHODIMP put_StopBits(LONG tenths) final
    {
        return change(tenths == 10 || tenths == 15 || tenths == 20, L"Stop bits must be 10 (one), 15 or 20 (two).",
                      [&](line_settings& s) {
                          s.stop_bits = tenths == 10 ? ONESTOPBIT : tenths == 15 ? ONE5STOPBITS : TWOSTOPBITS;
                      });
    }
    STDMETHODIMP get_FlowControl(LONG* flow) final { return get(m_settings.flow_control, flow, settings_id); }
    STDMETHODIMP put_FlowControl(LONG flow) final
    {
        return change(flow == flow_none || flow == flow_xon_xoff || flow == flow_rts_cts || flow == flow_dtr_dsr,
                      L"The flow control must be 0 (none), 1 (XON/XOFF), 2 (RTS/CTS) or 4 (DTR/DSR).",
                      [&](line_settings& s) { s.flow_control = flow; });
    }
    STDMETHODIMP get_EndOut(LONG* end) final
    {
        return frame(settings_id, [&] {
            if (!end)
                return null_pointer(settings_id);
            const std::lock_guard guard(m_lock);
            *end = m_append_termination ? end_termination_character : end_none;
            return S_OK;
        });
    }
    STDMETHODIMP put_EndOut(LONG end) final
    {
        return frame(settings_id, [&] {
            if (end != end_none && end != end_termination_character)
                return report(E_INVALIDARG, L"EndOut must be 0 (none) or 2 (the termination character).", settings_id);
            const std::lock_guard guard(m_lock);
            m_append_termination = end == end_termination_character;
            return S_OK;
        });
    }

private:
    static constexpr LONG end_none = 0, end_termination_character = 2;

    // A setting checked, then applied to the line with the others; kept only when the port
    // takes it.
    template<typename Set> HRESULT change(bool valid, const wchar_t* refused, Set set)
    {
        return frame(settings_id, [&] {
            if (!valid)
                return report(E_INVALIDARG, refused, settings_id);
            const std::lock_guard guard(m_lock);
            line_settings wanted = m_settings;
            set(wanted);
            if (const HRESULT hr = m_port->apply(wanted); FAILED(hr))
                return report(hr, L"The serial port refused the setting.", settings_id);
            m_settings = wanted;
            return S_OK;
        });
    }

    serial_port* const m_port; // the stream's, for its settings
    line_settings m_settings;
};

} // namespace

HRESULT open_serial_session(const serial_address& address, std::wstring_view resource_name, LONG timeout_ms,
                            IMessage** session)
{
    if (!session)
        return serial_session::null_pointer();
    *session = nullptr;
    try {
        auto port = std::make_unique<serial_port>(address.port);
        if (const HRESULT hr = port->apply(line_settings{}); FAILED(hr))
            return serial_session::report(hr, L"The serial port refused 9600 baud, 8N1, no flow control.");
        *session = com_object<serial_session>::make<IMessage>(std::move(port), std::wstring(resource_name), timeout_ms)
                       .Detach();
        return S_OK;
    } catch (const stream::failure& failure) {
        return serial_session::report(session::resource_not_found, failure.text);
    } catch (const std::bad_alloc&) {
        return serial_session::report(E_OUTOFMEMORY, L"Not enough memory to open the session.");
    }
}

} // namespace morvane::serial
