// The call frame: what each handler clause does with the exception that leaves a method, the
// pointer checks, and how each method empties its output arguments.
#include <gtest/gtest.h>
#include <comdef.h>
#include "object/call_frame.hpp"
#include "support/fmtdio_fixture.hpp"

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

TEST(CallFrame, EachClauseAndWhatItDoes)
{
    const std::wstring no_record = L" without a record";
    const std::wstring no_session = component_failure(
        E_FAIL, L"No valid COM I/O resource available, set the IO property to a valid COM I/O resource.", 1030);
    const struct {
        handler_list list;
        raised kind;
        std::wstring outcome;
        bool stream_reset;
    } rows[] = {
        {write_text_method.handlers, raised::bad_pointer, std::to_wstring(E_POINTER) + no_record, false},
        {write_text_method.handlers, raised::loc_com, no_session, true},
        {write_text_method.handlers, raised::win32, std::to_wstring(E_UNEXPECTED) + no_record, false},
        {write_text_method.handlers, raised::other, std::to_wstring(E_UNEXPECTED) + no_record, false},
        {write_value_method.handlers, raised::win32,
         component_failure(DISP_E_TYPEMISMATCH, L"The variant argument could not be coerced to the desired type.", 1017),
         false},
        {write_text_method.handlers, raised::com_error, error_line(E_OUTOFMEMORY, L"", L"", L"", 0, IID_IFormattedIO488), true},
        {read_method.handlers, raised::com_error, std::to_wstring(E_UNEXPECTED) + no_record, false},
        {property_method.handlers, raised::loc_com, std::to_wstring(E_UNEXPECTED) + no_record, false},
        {unchecked_method.handlers, raised::bad_pointer, std::to_wstring(E_UNEXPECTED) + no_record, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
        clear_thread_error();
        byte_ios stream(nullptr);
        stream.setstate(std::ios_base::failbit);
        HRESULT hr = S_OK;
        try {
            raise_kind(row.kind);
        } catch (...) {
            hr = translate_current_exception(row.list, {&stream, nullptr});
        }
        EXPECT_EQ(outcome(hr), row.outcome);
        // clear() on a stream without a buffer leaves only the bad bit.
        EXPECT_EQ(stream.rdstate(), row.stream_reset ? std::ios_base::badbit
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
    EXPECT_THROW(clear_result(static_cast<VARIANT*>(page)), bad_pointer) << "emptying it would fault";
    DWORD old = 0;
    VirtualProtect(page, 4096, PAGE_NOACCESS, &old);
    EXPECT_THROW(check_in_ptr(page, 8), bad_pointer);
    VirtualFree(page, 0, MEM_RELEASE);
}

// An object whose only use is to count its releases.
struct counted final : IUnknown {
    long count = 1;
    STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++count); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--count); }
};

// ReadNumber releases what its result held; ReadList and ReadIEEEBlock only empty theirs.
TEST_F(bound_fmtdio, ResultVariantsAreEmptiedEachInItsOwnWay)
{
    const struct {
        const char* name;
        std::function<HRESULT(VARIANT*)> call;
        long count_after;
    } rows[] = {
        {"ReadNumber", [&](VARIANT* v) { return io->ReadNumber(NumberType_R8, VARIANT_TRUE, v); }, 1},
        {"ReadList", [&](VARIANT* v) { return io->ReadList(NumberType_R8, nullptr, v); }, 2},
        {"ReadIEEEBlock", [&](VARIANT* v) { return io->ReadIEEEBlock(NumberType_R8, 0, 0, v); }, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        counted held;
        VARIANT result;
        V_VT(&result) = VT_UNKNOWN;
        V_UNKNOWN(&result) = &held;
        held.AddRef();
        row.call(&result);
        EXPECT_EQ(V_VT(&result), VT_EMPTY);
        EXPECT_EQ(held.count, row.count_after);
        EXPECT_EQ(row.call(nullptr), E_POINTER);
    }
}

} // namespace
} // namespace morvane::testing
