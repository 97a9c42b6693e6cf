#pragma once
// Shared pieces of the stream tests: a buffer over a scripted session, the session's calls as
// readable lines, and the expected records.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include "error/error_values.hpp"
#include "error/errors.hpp"
#include "stream/comio_buf.hpp"
#include "support/error_record.hpp"
#include "support/scripted_session.hpp"

namespace morvane::testing {

using lines = std::vector<std::string>;

inline constexpr HRESULT link_down = static_cast<HRESULT>(0x80040011);

// Each call as one line: "get_send_end", "put_send_end 0", "write 1000 end", "read 1000", ...
inline std::vector<std::string> trace(const scripted_session& session)
{
    std::vector<std::string> lines;
    for (const session_call& call : session.calls()) {
        switch (call.op) {
        case session_op::write:
            lines.push_back("write " + std::to_string(call.count) + (call.send_end ? " end" : " noend"));
            break;
        case session_op::read: lines.push_back("read " + std::to_string(call.count)); break;
        case session_op::read_string: lines.push_back("read_string " + std::to_string(call.count)); break;
        case session_op::last_status: lines.push_back("last_status"); break;
        case session_op::get_send_end: lines.push_back("get_send_end"); break;
        case session_op::put_send_end: lines.push_back("put_send_end " + std::to_string(call.count)); break;
        default: lines.push_back("other"); break;
        }
    }
    return lines;
}

// n bytes that differ from their neighbours, 0xFF among them, and no line feed.
inline std::string pattern(std::size_t n)
{
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i) {
        const int value = static_cast<int>(i % 251) + 1;
        bytes.push_back(static_cast<char>(value == '\n' ? 0xFF : value));
    }
    return bytes;
}

inline std::streamsize put(comio_buf& buffer, std::string_view bytes)
{
    return buffer.sputn(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Bytes up to the first end-of-file, taken one at a time.
inline std::string get_to_eof(comio_buf& buffer)
{
    std::string bytes;
    for (auto c = buffer.sbumpc(); c != byte_traits::eof(); c = buffer.sbumpc())
        bytes.push_back(static_cast<char>(c));
    return bytes;
}

inline void expect_fields(const error_record& actual, const error_record& expected)
{
    EXPECT_EQ(actual.description, expected.description);
    EXPECT_EQ(actual.source, expected.source);
    EXPECT_EQ(actual.help_file, expected.help_file);
    EXPECT_EQ(actual.help_context, expected.help_context);
    EXPECT_TRUE(actual.interface_id == expected.interface_id);
}

inline void expect_error(const loc_com_error* error, HRESULT hr, const error_record& expected)
{
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->hresult(), hr);
    ASSERT_NE(error->error_info(), nullptr);
    expect_fields(read_record(error->error_info()), expected);
}

// What a failing session leaves on the thread (see scripted_session).
inline error_record session_record(const wchar_t* description = L"link down")
{
    return {description, session_error_text::source, session_error_text::help_file, session_error_text::help_context,
            IID_IMessage};
}

inline error_record component_record(const wchar_t* description, DWORD help_context)
{
    return {description, L"Tellurix", help_file_path, help_context, IID_IFormattedIO488};
}

inline error_record internal_record()
{
    return component_record(L"An internal error occurred.  Please contact your I/O vendor.", 1011);
}

// A buffer over a scripted session; the session must have every reference back at the end.
struct rig {
    explicit rig(std::uint32_t in_size = 1000, std::uint32_t out_size = 1000)
        : buffer(std::make_unique<comio_buf>(&session, in_size, out_size))
    {
    }
    ~rig()
    {
        buffer.reset();
        EXPECT_EQ(session.references(), 0);
    }
    scripted_session session;
    std::unique_ptr<comio_buf> buffer;
};

inline lines operator+(lines a, const lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace morvane::testing
