#include "bound_component.hpp"

#include "platform/scope_exit.hpp"

#include <stdexcept>
#include "component_codes.hpp"
#include "failure.hpp"
#include "number_text.hpp"
#include "platform/variant.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

// The variant takes the array, labelled with the array's own element type.
void hold_array(morvane::unique_variant& holder, morvane::unique_safearray array)
{
    VARTYPE element = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(array.get(), &element)))
        throw std::runtime_error("an array without an element type");
    holder.clear();
    V_ARRAY(holder.get()) = array.release();
    V_VT(holder.get()) = VT_ARRAY | element;
}

// How a failing call names its command.
std::string command_context(std::string_view command) { return command.empty() ? "" : "command " + quoted(command); }

} // namespace

bound_component::bound_component(const connection_settings& settings)
    : m_manager(create_resource_manager()),
      m_component(create_server_object<IFormattedIO488>(formatted_io_class, settings.dll)),
      m_opened(open_session(m_manager.object.Get(), settings.resource, settings.open_timeout_ms)),
      m_session(morvane::com_object<trace_session>::make<IMessage>(m_opened.message, standard_error())),
      m_trace(static_cast<trace_session*>(m_session.Get()))
{
    m_trace->enable(settings.trace);
    check(m_component.object->putref_IO(session()), m_component.object.Get(), IID_IFormattedIO488, "putref_IO", "");
}

// A failure is traced as the IMessage calls are.
void bound_component::check_control(HRESULT hr, std::string_view method, const std::string& result)
{
    m_trace->log_result(std::string(method), hr, result);
    check(hr, m_opened.control.Get(), IID_IMorvaneSession, "IMorvaneSession::" + std::string(method), "");
}

std::string bound_component::resource_name()
{
    morvane::unique_bstr name;
    check(m_opened.control->get_ResourceName(name.put()), m_opened.control.Get(), IID_IMorvaneSession,
          "IMorvaneSession::get_ResourceName", "");
    return bstr_to_utf8(name.get());
}

void bound_component::clear() { check_control(m_opened.control->Clear(), "Clear", "ok"); }

short bound_component::read_status_byte()
{
    short status = 0;
    const HRESULT hr = m_opened.control->ReadStatusByte(&status);
    check_control(hr, "ReadStatusByte", std::to_string(status));
    return status;
}

void bound_component::assert_trigger() { check_control(m_opened.control->AssertTrigger(), "AssertTrigger", "ok"); }

Microsoft::WRL::ComPtr<IMorvaneLocking> bound_component::locking()
{
    Microsoft::WRL::ComPtr<IMorvaneLocking> locks;
    // The platform has no text for E_NOINTERFACE everywhere: the record says what it means here.
    if (const HRESULT hr = m_opened.message.As(&locks); FAILED(hr))
        throw failure("QueryInterface(IMorvaneLocking)", "resource " + quoted(resource_name()), hr,
                      error_record{"This session has no locks: only VXI-11 and HiSLIP sessions lock their instrument.",
                                   "fmtio", "", 0});
    return locks;
}

void bound_component::check_locking(HRESULT hr, IMorvaneLocking* locks, const std::string& call,
                                    std::string_view context)
{
    m_trace->log_result(call, hr, "ok");
    check(hr, locks, IID_IMorvaneLocking, "IMorvaneLocking::" + call.substr(0, call.find(' ')), context);
}

void bound_component::lock(long timeout_ms, const std::string& shared_name)
{
    const auto locks = locking();
    const std::string call =
        "Lock " + std::to_string(timeout_ms) + (shared_name.empty() ? "" : " " + quoted(shared_name));
    check_locking(locks->Lock(timeout_ms, utf8_to_bstr(shared_name).get()), locks.Get(), call,
                  shared_name.empty() ? "" : "shared lock " + quoted(shared_name));
}

void bound_component::unlock()
{
    const auto locks = locking();
    check_locking(locks->Unlock(), locks.Get(), "Unlock", "");
}

short bound_component::wait_for_service_request(std::string_view command, long timeout_ms)
{
    Microsoft::WRL::ComPtr<IMorvaneServiceRequests> requests;
    check(m_opened.message.As(&requests), m_opened.message.Get(), IID_IMessage,
          "QueryInterface(IMorvaneServiceRequests)", "resource " + quoted(resource_name()));
    const auto checked = [&](HRESULT hr, const std::string& call, const std::string& result) {
        m_trace->log_result(call, hr, result);
        check(hr, requests.Get(), IID_IMorvaneServiceRequests, "IMorvaneServiceRequests::" + call,
              command_context(command));
    };
    checked(requests->EnableServiceRequests(), "EnableServiceRequests", "ok");
    const morvane::scope_exit disable([&] { requests->DisableServiceRequests(); });
    checked(requests->DiscardServiceRequests(), "DiscardServiceRequests", "ok");
    write(command);
    short status = 0;
    const HRESULT hr = requests->WaitForServiceRequest(timeout_ms, &status);
    checked(hr, "WaitForServiceRequest " + std::to_string(timeout_ms), std::to_string(status));
    return status;
}

void bound_component::set_serial_line(const serial_line& line)
{
    Microsoft::WRL::ComPtr<IMorvaneSerialSettings> settings;
    if (const HRESULT hr = m_opened.message.As(&settings); FAILED(hr))
        throw failure("QueryInterface(IMorvaneSerialSettings)", "resource " + quoted(resource_name()), hr,
                      error_record{"--serial is for serial resources (ASRL<n>::INSTR).", "fmtio", "", 0});
    const auto checked = [&](HRESULT hr, const std::string& call) {
        m_trace->log_result(call, hr, "ok");
        check(hr, settings.Get(), IID_IMorvaneSerialSettings, "IMorvaneSerialSettings::" + call, "");
    };
    checked(settings->put_BaudRate(line.baud_rate), "put_BaudRate " + std::to_string(line.baud_rate));
    checked(settings->put_DataBits(line.data_bits), "put_DataBits " + std::to_string(line.data_bits));
    checked(settings->put_Parity(line.parity), "put_Parity " + std::to_string(line.parity));
    checked(settings->put_StopBits(line.stop_bits), "put_StopBits " + std::to_string(line.stop_bits));
    checked(settings->put_FlowControl(line.flow), "put_FlowControl " + std::to_string(line.flow));
}

void bound_component::check_io(HRESULT hr, std::string_view method, std::string_view command)
{
    check(hr, m_component.object.Get(), IID_IFormattedIO488, method, command_context(command));
}

// A response that could not be read as asked is dropped whole, so that the next read starts
// at the next answer rather than at the rest of this one.
void bound_component::check_read(HRESULT hr, std::string_view method, std::string_view command)
{
    try {
        check_io(hr, method, command);
    } catch (...) {
        if (hr == morvane::E_FORMATTEDIO_DATA)
            m_component.object->FlushRead();
        throw;
    }
}

long bound_component::timeout()
{
    LONG milliseconds = 0;
    check(session()->get_Timeout(&milliseconds), session(), IID_IMessage, "IMessage::get_Timeout", "");
    return milliseconds;
}

void bound_component::set_timeout(long milliseconds)
{
    check(session()->put_Timeout(milliseconds), session(), IID_IMessage, "IMessage::put_Timeout", "");
}

void bound_component::write(std::string_view command)
{
    if (!command.empty())
        check_io(m_component.object->WriteString(utf8_to_bstr(command).get(), VARIANT_TRUE), "WriteString", command);
}

std::string bound_component::read_string(std::string_view command)
{
    morvane::unique_bstr response;
    check_io(m_component.object->ReadString(response.put()), "ReadString", command);
    std::string text = bstr_to_utf8(response.get());
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    return text;
}

std::string bound_component::query(std::string_view command)
{
    write(command);
    return read_string(command);
}

std::string bound_component::read_number(std::string_view command)
{
    write(command);
    morvane::unique_variant number;
    check_read(m_component.object->ReadNumber(NumberType_Any, VARIANT_TRUE, number.get()), "ReadNumber", command);
    return variant_text(*number);
}

value_list bound_component::read_list(std::string_view command, element_type type, std::string_view separators)
{
    write(command);
    morvane::unique_variant list;
    check_read(m_component.object->ReadList(number_type(type), utf8_to_bstr(separators).get(), list.get()), "ReadList",
               command);
    value_list values = read_values(*list);
    // Lines that end in CR LF leave the CR on their last text item.
    for (std::string& text : values.texts)
        if (text.ends_with('\r'))
            text.pop_back();
    return values;
}

void bound_component::write_list(std::string_view command, element_type type, std::span<const std::string> values,
                                 std::string_view separator)
{
    morvane::unique_variant list;
    hold_array(list, make_array(type, values));
    if (!command.empty())
        check_io(m_component.object->WriteString(utf8_to_bstr(std::string(command) + " ").get(), VARIANT_FALSE),
                 "WriteString", command);
    check_io(m_component.object->WriteList(list.get(), number_type(type), utf8_to_bstr(separator).get(), VARIANT_TRUE),
             "WriteList", command);
}

void bound_component::set_byte_order(bool little_endian, std::string_view command)
{
    check_io(m_component.object->put_InstrumentBigEndian(little_endian ? VARIANT_FALSE : VARIANT_TRUE),
             "put_InstrumentBigEndian", command);
}

value_list bound_component::read_block(std::string_view command, element_type type, bool little_endian)
{
    write(command);
    set_byte_order(little_endian, command);
    morvane::unique_variant block;
    check_io(m_component.object->ReadIEEEBlock(number_type(type), VARIANT_FALSE, VARIANT_TRUE, block.get()),
             "ReadIEEEBlock", command);
    // The component takes one byte after the data as the block's end; when an instrument ends
    // it with CR LF, that byte is the CR, and the LF is read here to leave the next answer whole.
    if (m_trace->last_byte_read() == '\r')
        read_string(command);
    return read_values(*block);
}

void bound_component::write_block(std::string_view command, morvane::unique_safearray data, bool little_endian)
{
    set_byte_order(little_endian, command);
    morvane::unique_variant block;
    hold_array(block, std::move(data));
    check_io(m_component.object->WriteIEEEBlock(utf8_to_bstr(command).get(), *block, VARIANT_TRUE), "WriteIEEEBlock",
             command);
}

} // namespace fmtio
