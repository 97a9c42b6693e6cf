// The exception family: HRESULT rules, the records that each error builds, copies, publishing
// on the thread and taking over a session's error information.
#include <gtest/gtest.h>
#include <windows.h>
#include <comdef.h>
#include <visacom.h>
#include <filesystem>
#include <string>
#include "error/describe_error.hpp"
#include "error/error_values.hpp"

namespace morvane::testing {
namespace {

constexpr HRESULT session_hr = static_cast<HRESULT>(0x80040011);

// win32_error's constructor with a code is protected; the component only raises its subclass.
struct coded_error : win32_error {
    explicit coded_error(DWORD code) : win32_error("coded", code) {}
};

error_record component(const wchar_t* description, DWORD help_context)
{
    return {description, L"Tellurix", help_file_path, help_context, IID_IFormattedIO488};
}

// An error with a record as another component (a session) makes it.
loc_com_error session_error()
{
    return {std::wstring_view(L"link down"), 4242, L"C:\\session.chm", L"Session", IID_IMessage, session_hr};
}

ULONG references(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

TEST(Win32Error, HresultOfCode)
{
    // Zero and negative codes unchanged, others as 0x8007 and their low 16 bits.
    const std::pair<DWORD, DWORD> rows[] = {{0, 0}, {5, 0x80070005}, {0x82345, 0x80072345}, {0x80040015, 0x80040015}};
    for (const auto& [code, hr] : rows) {
        SCOPED_TRACE(code);
        EXPECT_EQ(static_cast<DWORD>(coded_error(code).hresult()), hr);
    }
}

TEST(ErrorValues, HelpFileBesideTheExecutable)
{
    // No module is loaded under "Tellurix" here, so the help file lies beside the executable.
    wchar_t executable[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, executable, MAX_PATH);
    EXPECT_EQ(help_file_path, std::filesystem::path(executable).replace_filename(L"visacom.chm").wstring());
}

TEST(LocComError, RecordOfEachKindCopiedAndPublished)
{
    const loc_com_error session = session_error();
    const ULONG session_references = references(session.error_info());
    const win32_hresult_error no_memory(message_id::no_memory, E_OUTOFMEMORY);
    const struct {
        const char* name;
        loc_com_error error;
        HRESULT hr;
        error_record record;
    } rows[] = {
        {"component 115", component_error(end_on_empty_buffer), E_FAIL,
         component(L"An attempt was made to send an END signal on an empty buffer.", 1033)},
        {"component 120", component_error(buffer_size_not_positive), E_INVALIDARG,
         component(L"The Buffer's size must be greater than zero.", 1036)},
        {"component 121, raised", caught([] { raise(buffer_not_allocated); }), E_OUTOFMEMORY,
         component(L"Could not allocate the requested buffer size.", 1037)},
        {"internal", internal_com_error(IID_IFormattedIO488), E_UNEXPECTED,
         component(L"An internal error occurred.  Please contact your I/O vendor.", 1011)},
        // hresult() is taken virtually: the subclass's HRESULT, or the code rule of the base.
        {"win32_hresult_error", win32_com_error(no_memory, 1017, IID_IFormattedIO488), E_OUTOFMEMORY,
         component(L"The system cannot allocate enough memory to complete the operation.", 1017)},
        {"win32_error", win32_com_error(coded_error(5), 1017, IID_IFormattedIO488),
         static_cast<HRESULT>(0x80070005), component(L"coded", 1017)},
        {"_com_error without a record", loc_com_error(_com_error(E_OUTOFMEMORY), IID_IFormattedIO488), E_OUTOFMEMORY,
         {L"", L"", L"", 0, IID_IFormattedIO488}},
        // The interface is always the one given, never the record's.
        {"_com_error with a record", loc_com_error(_com_error(session_hr, session.error_info(), true), IID_IFormattedIO488),
         session_hr, {L"link down", L"Session", L"C:\\session.chm", 4242, IID_IFormattedIO488}},
    };
    EXPECT_EQ(references(session.error_info()), session_references); // the record taken over is let go
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring expected = describe(row.hr, row.record);
        EXPECT_EQ(describe(row.error), expected);
        EXPECT_EQ(row.error.what(), std::string(row.record.description.begin(), row.record.description.end()));
        const loc_com_error copy(row.error);
        EXPECT_NE(copy.error_info(), row.error.error_info()); // a record of its own
        EXPECT_EQ(describe(copy), expected);

        clear_thread_error();
        EXPECT_EQ(row.error.report(), row.hr);
        EXPECT_EQ(row.error.report(), row.hr); // the error keeps its record after publishing it
        const auto published = take_thread_error();
        ASSERT_TRUE(published);
        EXPECT_EQ(describe(row.hr, *published), expected);
    }
}

TEST(ThrowSessionError, PassesTheSessionRecordThroughUnchanged)
{
    const loc_com_error session = session_error();
    session.report();
    EXPECT_EQ(describe(caught([] { throw_session_error(session_hr); })), describe(session));
    EXPECT_FALSE(take_thread_error()); // taken from the thread

    try {
        throw_session_error(session_hr); // no record on the thread now
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_POINTER);
        EXPECT_EQ(error.ErrorInfo(), nullptr);
    }
}

} // namespace
} // namespace morvane::testing
