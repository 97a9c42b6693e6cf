#include "object/call_frame.hpp"

#include <comdef.h>
#include <cstring>
#include <visacom.h>
#include "error/errors.hpp"
#include "error/messages.hpp"

namespace morvane {
namespace {

void clear_stream_state(stream_pointers streams)
{
    if (streams.input)
        streams.input->clear();
    if (streams.output)
        streams.output->clear();
}

// Reporting builds and publishes a record; when even that fails, E_OUTOFMEMORY is all
// that can be said.
template<typename Report> HRESULT reporting(Report&& report) noexcept
{
    try {
        return report();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace

HRESULT translate_current_exception(handler_list handlers, stream_pointers streams) noexcept
{
    try {
        throw;
    } catch (const bad_pointer&) {
        if (handlers.bad_pointer)
            return E_POINTER;
    } catch (const win32_error& error) {
        if (handlers.win32_errors)
            return reporting(
                [&] { return win32_com_error(error, argument_failure_help_context, IID_IFormattedIO488).report(); });
    } catch (const loc_com_error& error) {
        if (handlers.loc_com) {
            clear_stream_state(streams);
            return reporting([&] { return error.report(); });
        }
    } catch (const _com_error& error) {
        if (handlers.com_error)
            return reporting([&] {
                loc_com_error converted(error, IID_IFormattedIO488);
                clear_stream_state(streams);
                return converted.report();
            });
    } catch (...) {}
    return E_UNEXPECTED;
}

void check_out_ptr(void* p, std::size_t size)
{
    if (!p || IsBadWritePtr(p, size))
        throw bad_pointer();
    std::memset(p, 0, size);
}

void check_in_ptr(const void* p, std::size_t size)
{
    if (!p || IsBadReadPtr(p, size))
        throw bad_pointer();
}

namespace {

// Readable as a VARIANT, and writable too: emptying it must not fault.
void check_result_ptr(VARIANT* result)
{
    check_in_ptr(result, sizeof *result);
    if (IsBadWritePtr(result, sizeof *result))
        throw bad_pointer();
}

} // namespace

void clear_result(VARIANT* result)
{
    check_result_ptr(result);
    // A VARIANT that cannot be cleared held nothing valid to release; it is emptied all the same.
    if (FAILED(VariantClear(result)))
        VariantInit(result);
}

void init_result(VARIANT* result)
{
    check_result_ptr(result);
    VariantInit(result);
}

void raise_failure_or_clear(byte_ios& stream, const loc_com_error* recorded, std::ios_base::iostate failure)
{
    if (stream.rdstate() & failure)
        raise_recorded(recorded);
    stream.clear();
}

} // namespace morvane
