#include "failure.hpp"

#include <oleauto.h>
#include <cstdio>
#include <wrl/client.h>
#include "error/error_record.hpp"
#include "platform/system_message.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

// The record on the thread, which is taken either way so that no later failure reports it;
// with `object`, only when the object says that it leaves records for `iid`.
std::optional<error_record> take_record(IUnknown* object, const IID* iid)
{
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return std::nullopt;
    Microsoft::WRL::ComPtr<ISupportErrorInfo> support;
    if (iid && (!object || FAILED(object->QueryInterface(IID_PPV_ARGS(&support))) ||
                support->InterfaceSupportsErrorInfo(*iid) != S_OK))
        return std::nullopt; // the record may be older than this call
    const morvane::record_text fields(info.Get());
    return error_record{bstr_to_utf8(fields.description.get()), bstr_to_utf8(fields.source.get()),
                        bstr_to_utf8(fields.help_file.get()), fields.help_context};
}

// A text of several lines (a description may hold line breaks) under its label.
std::string field(std::string_view label, std::string_view text)
{
    std::string lines = "  " + std::string(label) + std::string(14 - label.size(), ' ');
    for (const char c : text) {
        if (c == '\n')
            lines += "\n" + std::string(16, ' ');
        else if (c != '\r')
            lines += c;
    }
    return lines + "\n";
}

} // namespace

failure::failure(std::string method, std::string context, HRESULT hr, std::optional<error_record> record)
    : std::runtime_error(method + " failed"), m_method(std::move(method)), m_context(std::move(context)), m_hr(hr),
      m_record(std::move(record))
{}

std::string failure::report() const
{
    std::string text = "fmtio: " + m_method + " failed";
    if (!m_context.empty())
        text += ", " + m_context;
    text += "\n" + field("HRESULT:", hex(static_cast<unsigned long>(m_hr)));
    if (m_record) {
        text += field("description:", m_record->description);
        text += field("source:", m_record->source);
        text += field("help context:", std::to_string(m_record->help_context) +
                                           (m_record->help_file.empty() ? "" : " in " + m_record->help_file));
    } else {
        const std::string message = to_utf8(morvane::system_message(static_cast<DWORD>(m_hr)));
        text += field("description:", message.empty() ? "the platform has no text for this HRESULT" : message);
        text += field("source:", "no error information");
    }
    return text;
}

void check(HRESULT hr, IUnknown* object, REFIID iid, std::string_view method, std::string_view context)
{
    if (SUCCEEDED(hr))
        return;
    throw failure(std::string(method), std::string(context), hr, take_record(object, &iid));
}

void check_fresh(HRESULT hr, std::string_view method, std::string_view context)
{
    if (SUCCEEDED(hr))
        return;
    throw failure(std::string(method), std::string(context), hr, take_record(nullptr, nullptr));
}

void throw_last_error(std::string_view function, std::string_view context)
{
    const DWORD error = GetLastError();
    throw failure(std::string(function), std::string(context), HRESULT_FROM_WIN32(error), std::nullopt);
}

std::string hex(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

} // namespace fmtio

#include <new>
#include "console.hpp"

namespace fmtio {

int report_current_exception(std::string_view hint)
{
    text_out& err = standard_error();
    try {
        throw;
    } catch (const usage_error& error) {
        err.write("fmtio: " + std::string(error.what()) + "\n" + std::string(hint));
        return exit_usage;
    } catch (const failure& error) {
        err.write(error.report());
    } catch (const std::bad_alloc&) {
        err.write("fmtio: out of memory\n");
    } catch (const std::exception& error) {
        err.write("fmtio: " + std::string(error.what()) + "\n");
    } catch (...) {
        err.write("fmtio: an unknown failure\n");
    }
    return exit_failure;
}

} // namespace fmtio
