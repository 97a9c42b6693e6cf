// The exception translator of the call frame: which clause each method's list has, and
// what each clause does to the HRESULT, the thread's record and the stream state.
#include <gtest/gtest.h>
#include <comdef.h>
#include <functional>
#include <visacom.h>
#include "error/error_values.hpp"
#include "error/errors.hpp"
#include "object/call_frame.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

enum class raised { bad_pointer, win32, loc_com, com_error, other };

void raise_kind(raised kind)
{
    switch (kind) {
    case raised::bad_pointer: throw bad_pointer();
    case raised::win32: throw win32_hresult_error(message_id::coercion_failed, DISP_E_TYPEMISMATCH);
    case raised::loc_com: raise(no_io_resource);
    case raised::com_error: throw _com_error(E_OUTOFMEMORY);
    case raised::other: throw std::logic_error("unforeseen");
    }
}

struct clause_case {
    const char* list_name;
    handler_list list;
    raised kind;
    HRESULT expected;
    DWORD help_context; // of the published record; ~0u: none published
    bool stream_reset;
};

constexpr DWORD none = ~0u;

TEST(CallFrame, ClausesPerHandlerList)
{
    const clause_case cases[] = {
        {"write text", write_text_handlers, raised::bad_pointer, E_POINTER, none, false},
        {"write text", write_text_handlers, raised::win32, E_UNEXPECTED, none, false},
        {"write text", write_text_handlers, raised::loc_com, E_FAIL, 1030, true},
        {"write text", write_text_handlers, raised::com_error, E_OUTOFMEMORY, 0, true},
        {"write text", write_text_handlers, raised::other, E_UNEXPECTED, none, false},
        {"write value", write_value_handlers, raised::win32, DISP_E_TYPEMISMATCH, 1017, false},
        {"stream", stream_handlers, raised::win32, E_UNEXPECTED, none, false},
        {"stream", stream_handlers, raised::com_error, E_UNEXPECTED, none, false},
        {"stream", stream_handlers, raised::loc_com, E_FAIL, 1030, true},
        {"read list", read_list_handlers, raised::win32, DISP_E_TYPEMISMATCH, 1017, false},
        {"read list", read_list_handlers, raised::com_error, E_UNEXPECTED, none, false},
        {"property", property_handlers, raised::bad_pointer, E_POINTER, none, false},
        {"property", property_handlers, raised::loc_com, E_UNEXPECTED, none, false},
        {"none", no_handlers, raised::bad_pointer, E_UNEXPECTED, none, false},
    };
    for (const clause_case& c : cases) {
        SCOPED_TRACE(std::string(c.list_name) + " / " + std::to_string(int(c.kind)));
        clear_thread_error();
        byte_ios stream(nullptr);
        stream.setstate(std::ios_base::failbit);
        byte_ios* stream_pointer = &stream;
        HRESULT hr = S_OK;
        try {
            raise_kind(c.kind);
        } catch (...) {
            hr = translate_current_exception(c.list, {stream_pointer, nullptr});
        }
        EXPECT_EQ(hr, c.expected);
        const std::optional<error_record> record = take_thread_error();
        EXPECT_EQ(record.has_value(), c.help_context != none);
        if (record) {
            EXPECT_EQ(record->help_context, c.help_context);
            EXPECT_TRUE(IsEqualGUID(record->interface_id, IID_IFormattedIO488));
            // The platform's allocation failure carries no record: the client's is empty.
            if (c.kind == raised::com_error) {
                EXPECT_EQ(record->description + record->source + record->help_file, L"");
            }
        }
        // clear() on a stream without a buffer leaves only the bad bit.
        EXPECT_EQ(stream.rdstate(), c.stream_reset ? std::ios_base::badbit
                                                   : std::ios_base::badbit | std::ios_base::failbit);
    }
}

TEST(CallFrame, PointerChecks)
{
    long value = 0x12345678;
    EXPECT_NO_THROW(check_out_ptr(&value, sizeof value));
    EXPECT_EQ(value, 0) << "an out argument is emptied";

    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    EXPECT_NO_THROW(check_in_ptr(page, 8));
    EXPECT_THROW(check_out_ptr(page, 8), bad_pointer);
    DWORD old = 0;
    VirtualProtect(page, 4096, PAGE_NOACCESS, &old);
    EXPECT_THROW(check_in_ptr(page, 8), bad_pointer);
    VirtualFree(page, 0, MEM_RELEASE);
}

} // namespace
} // namespace morvane::testing
