#pragma once
// The boundary of every COM method: the method's body runs inside it and no exception leaves
// it. The exception that leaves the body is turned into the HRESULT and the thread's error
// information by a translator, called inside the catch block: the object's own (its lists of
// handlers), or report_current_exception for an object that raises nothing on purpose.
#include <windows.h>
#include <type_traits>
#include "platform/float_exceptions.hpp"

namespace morvane {

#ifdef MORVANE_TEST_HOOKS
// Tests only (the checked build): the next body to start on this thread raises the failure
// instead of running, so that every method's path through the boundary can be driven.
enum class injected_failure { none, out_of_memory, unexpected };
void inject_failure(injected_failure failure) noexcept;
void raise_injected_failure();
#endif

// Runs body (which returns nothing for S_OK, or its HRESULT) with floating-point exceptions
// masked; the exception leaving it is what translate() answers.
template<typename Body, typename Translate> HRESULT run_guarded(Body&& body, Translate&& translate) noexcept
{
    const float_exceptions_masked masked;
    try {
#ifdef MORVANE_TEST_HOOKS
        raise_injected_failure();
#endif
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            return S_OK;
        } else {
            return body();
        }
    } catch (...) {
        return translate();
    }
}

// Whom the errors of a method name, and what running out of memory in it is told.
struct boundary_errors {
    const wchar_t* source;
    const GUID& interface_id;
    const wchar_t* out_of_memory = L"Not enough memory to complete the call.";
};

// To be called inside a catch block: std::bad_alloc as E_OUTOFMEMORY, anything else as
// E_UNEXPECTED, each with a record naming the source and the interface.
HRESULT report_current_exception(const boundary_errors& errors) noexcept;

template<typename Body> HRESULT guarded_call(const boundary_errors& errors, Body&& body) noexcept
{
    return run_guarded(body, [&] { return report_current_exception(errors); });
}

} // namespace morvane
