#pragma once
// Shared pieces of the stream tests: a buffer over a scripted session, the session's calls as
// readable lines, and the errors expected.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include "error/describe_error.hpp"
#include "error/error_values.hpp"
#include "stream/comio_buf.hpp"
#include "support/scripted_session.hpp"

namespace morvane::testing {

using lines = std::vector<std::string>;

inline constexpr HRESULT link_down = static_cast<HRESULT>(0x80040011);

// Each call as one line: "get_send_end", "put_send_end 0", "write 1000 noend", "read 1000", ...
inline lines trace(const scripted_session& session)
{
    static const char* const names[] = {"write", "read", "read_string", "last_status", "get_send_end", "put_send_end"};
    lines calls;
    for (const session_call& call : session.calls()) {
        std::string line = call.op <= session_op::put_send_end ? names[static_cast<int>(call.op)] : "other";
        if (call.op != session_op::last_status && call.op != session_op::get_send_end)
            line += ' ' + std::to_string(call.count);
        if (call.op == session_op::write)
            line += call.send_end ? " end" : " noend";
        calls.push_back(line);
    }
    return calls;
}

inline lines operator+(lines a, const lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The calls that send n bytes with END suppressed.
inline lines chunk(std::size_t n)
{
    return {"get_send_end", "put_send_end 0", "write " + std::to_string(n) + " noend", "put_send_end -1"};
}

// n bytes that differ from their neighbours, 0xFF among them, and no line feed.
inline std::string pattern(std::size_t n)
{
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i)
        bytes.push_back(static_cast<char>(i % 251 + 1 == '\n' ? 0xFF : i % 251 + 1));
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

// Loads the first 1000 bytes of a 1500-byte message.
inline void start_long_message(scripted_session& session, comio_buf& buffer)
{
    session.respond(pattern(1500), {1000});
    buffer.sgetc();
}

// What a failing session leaves on the thread (see scripted_session).
inline std::wstring session_failure()
{
    return describe(link_down, {L"link down", session_error_text::source, session_error_text::help_file,
                                session_error_text::help_context, IID_IMessage});
}

inline std::wstring component_failure(HRESULT hr, const wchar_t* description, DWORD help_context)
{
    return describe(hr, {description, L"Tellurix", help_file_path, help_context, IID_IFormattedIO488});
}

// A buffer over a scripted session; the session must have every reference back at the end.
struct rig {
    explicit rig(std::uint32_t in_size = 1000) : buffer(std::make_unique<comio_buf>(&session, in_size, 1000)) {}
    ~rig()
    {
        buffer.reset();
        EXPECT_EQ(session.references(), 0);
    }
    scripted_session session;
    std::unique_ptr<comio_buf> buffer;
};

} // namespace morvane::testing
