#include "error/errors.hpp"

#include <visacom.h>
#include "error/error_record.hpp"
#include "error/error_values.hpp"
#include "error/resource_string.hpp"
#include "platform/ansi.hpp"
#include "platform/bstr.hpp"

namespace morvane {
namespace {

std::string message_text(message_id number)
{
    resource_string text(number);
    const char* narrow = text.narrow();
    return narrow ? narrow : "";
}

std::wstring wide_message_text(message_id number)
{
    resource_string text(number);
    const wchar_t* wide = text.wide();
    return wide ? wide : L"";
}

} // namespace

bad_pointer::bad_pointer() : std::runtime_error(message_text(message_id::bad_pointer)) {}

win32_error::win32_error() : win32_error(std::string()) {}

win32_error::win32_error(std::string message, DWORD code)
    : std::runtime_error("win32_error"), m_message(std::move(message)), m_code(code)
{}

HRESULT win32_error::hresult() const noexcept
{
    const auto value = static_cast<HRESULT>(m_code);
    return value <= 0 ? value : static_cast<HRESULT>(0x80070000u | (m_code & 0xFFFFu));
}

win32_hresult_error::win32_hresult_error(message_id message, HRESULT hr) : win32_error(message_text(message)), m_hr(hr)
{}

loc_com_error::loc_com_error(message_id message, DWORD help_context, const wchar_t* help_file, const wchar_t* source,
                             const GUID& interface_id, HRESULT hr)
    : loc_com_error(wide_message_text(message), help_context, help_file, source, interface_id, hr)
{}

loc_com_error::loc_com_error(std::wstring_view description, DWORD help_context, const wchar_t* help_file,
                             const wchar_t* source, const GUID& interface_id, HRESULT hr)
    : std::runtime_error("loc_com_error"), m_message(to_ansi(description))
{
    set_error_info(std::wstring(description).c_str(), help_context, help_file, source, interface_id, hr);
}

loc_com_error::loc_com_error(const _com_error& error, const GUID& interface_id) : std::runtime_error("loc_com_error")
{
    // ErrorInfo() hands out a reference of its own.
    ComPtr<IErrorInfo> record;
    *record.GetAddressOf() = error.ErrorInfo();
    if (record) {
        record_text fields(record.Get());
        m_message = to_ansi(bstr_view(fields.description.get()));
        set_error_info(fields.description.get(), fields.help_context, fields.help_file.get(), fields.source.get(),
                       interface_id, error.Error());
    } else {
        set_error_info(nullptr, 0, nullptr, nullptr, interface_id, error.Error());
    }
}

loc_com_error::loc_com_error(session_failure, HRESULT hr) : std::runtime_error("loc_com_error"), m_hr(hr) {}

loc_com_error::loc_com_error(const loc_com_error& other)
    : std::runtime_error(other), m_message(other.m_message), m_hr(other.m_hr)
{
    if (other.m_record) {
        record_text fields(other.m_record.Get());
        set_error_info(fields.description.get(), fields.help_context, fields.help_file.get(), fields.source.get(),
                       fields.interface_id, other.m_hr);
    }
}

void loc_com_error::set_error_info(const wchar_t* description, DWORD help_context, const wchar_t* help_file,
                                   const wchar_t* source, const GUID& interface_id, HRESULT hr)
{
    m_hr = hr;
    // clang-format off
    m_record = make_error_record({.description = description, .source = source, .interface_id = interface_id,
                                 .help_file = help_file, .help_context = help_context});
    // clang-format on
}

HRESULT loc_com_error::report() const
{
    if (m_record)
        SetErrorInfo(0, m_record.Get());
    return m_hr;
}

void loc_com_error::load_thread_error_info()
{
    ComPtr<IErrorInfo> taken;
    if (GetErrorInfo(0, &taken) != S_OK || !taken)
        throw _com_error(E_POINTER);
    record_text fields(taken.Get());
    set_error_info(fields.description.get(), fields.help_context, fields.help_file.get(), fields.source.get(),
                   fields.interface_id, m_hr);
}

win32_com_error::win32_com_error(const win32_error& error, DWORD help_context, const GUID& interface_id)
    : loc_com_error(from_ansi(error.what()), help_context, help_file_path.c_str(), error_source.wide(), interface_id,
                    error.hresult())
{}

internal_com_error::internal_com_error(const GUID& interface_id)
    : loc_com_error(message_id::internal_error, stream_failure_help_context, help_file_path.c_str(),
                    error_source.wide(), interface_id, E_UNEXPECTED)
{}

loc_com_error component_error(const component_message& message)
{
    return loc_com_error(message.number, message.help_context, help_file_path.c_str(), error_source.wide(),
                         IID_IFormattedIO488, message.hr);
}

void raise(const component_message& message) { throw component_error(message); }

void throw_session_error(HRESULT hr)
{
    loc_com_error error(loc_com_error::session_failure{}, hr);
    error.load_thread_error_info();
    throw loc_com_error(error);
}

} // namespace morvane
