#include "com/call_boundary.hpp"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include "error/error_record.hpp"

namespace morvane {

HRESULT report_current_exception(const boundary_errors& errors) noexcept
{
    constexpr const wchar_t* unexpected = L"An unexpected error ended the call.";
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return report_error(E_OUTOFMEMORY, errors.out_of_memory, errors.source, errors.interface_id);
    } catch (const std::exception& error) {
        // What the exception says, when there is memory left to say it.
        try {
            const std::string what = error.what();
            return report_error(E_UNEXPECTED,
                                L"An unexpected error ended the call: " + std::wstring(what.begin(), what.end()),
                                errors.source, errors.interface_id);
        } catch (...) {}
    } catch (...) {}
    return report_error(E_UNEXPECTED, unexpected, errors.source, errors.interface_id);
}

#ifdef MORVANE_TEST_HOOKS
namespace {
thread_local injected_failure armed = injected_failure::none;
} // namespace

void inject_failure(injected_failure failure) noexcept { armed = failure; }

void raise_injected_failure()
{
    const injected_failure failure = armed;
    armed = injected_failure::none;
    if (failure == injected_failure::out_of_memory)
        throw std::bad_alloc();
    if (failure == injected_failure::unexpected)
        throw std::logic_error("an injected failure");
}
#endif

} // namespace morvane
