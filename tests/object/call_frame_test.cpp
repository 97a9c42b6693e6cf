// The call frame: what each handler clause does with the exception that leaves a method, the
// pointer checks, and how each method empties its output arguments.
#include <gtest/gtest.h>
#include <comdef.h>
#include "object/call_frame.hpp"
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

// Each clause, with what it answers and whether it resets the method's stream; an exception
// whose clause a method does not have becomes E_UNEXPECTED without a record.
TEST(CallFrame, EachClauseAndWhatItDoes)
{
    const auto bare = [](HRESULT hr) { return std::to_wstring(hr) + L" without a record"; };
    const struct {
        handler_list list;
        void (*raise)();
        std::wstring outcome;
        bool stream_reset;
    } rows[] = {
        {write_text_method.handlers, [] { throw bad_pointer(); }, bare(E_POINTER), false},
        {write_text_method.handlers, [] { raise(no_io_resource); },
         component_failure(
             E_FAIL, L"No valid COM I/O resource available, set the IO property to a valid COM I/O resource.", 1030),
         true},
        {write_text_method.handlers, [] { throw std::logic_error("unforeseen"); }, bare(E_UNEXPECTED), false},
        {write_value_method.handlers,
         [] { throw win32_hresult_error(message_id::coercion_failed, DISP_E_TYPEMISMATCH); },
         component_failure(DISP_E_TYPEMISMATCH, L"The variant argument could not be coerced to the desired type.",
                           1017),
         false},
        {write_text_method.handlers, [] { throw _com_error(E_OUTOFMEMORY); },
         error_line(E_OUTOFMEMORY, L"", L"", L"", 0, IID_IFormattedIO488), true},
        {read_method.handlers, [] { throw _com_error(E_OUTOFMEMORY); }, bare(E_UNEXPECTED), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
        clear_thread_error();
        byte_ios stream(nullptr);
        stream.setstate(std::ios_base::failbit);
        HRESULT hr = S_OK;
        try {
            row.raise();
        } catch (...) {
            hr = translate_current_exception(row.list, {&stream, nullptr});
        }
        EXPECT_EQ(outcome(hr), row.outcome);
        // clear() on a stream without a buffer leaves only the bad bit.
        EXPECT_EQ(stream.rdstate(),
                  row.stream_reset ? std::ios_base::badbit : std::ios_base::badbit | std::ios_base::failbit);
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
    EXPECT_EQ(make_fmtdio()->putref_IO(static_cast<IMessage*>(page)), E_POINTER) << "a session that cannot be read";
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
