#pragma once
// A formatted-I/O object created as a client creates it, bound to a scripted session.
#include <gtest/gtest.h>
#include <string>
#include "support/fmtdio_object.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {

class bound_fmtdio : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_thread_error();
        ASSERT_EQ(io->putref_IO(&session), S_OK);
    }
    void TearDown() override
    {
        io.Reset();
        EXPECT_EQ(session.references(), 0) << "the object kept a reference to the session";
    }

    HRESULT write(std::wstring_view text, bool end = true) { return io->WriteString(bstr(text).get(), truth(end)); }
    // The response; a failure shows as its outcome.
    std::wstring read()
    {
        BSTR text = nullptr;
        const HRESULT hr = io->ReadString(&text);
        const unique_bstr owned(text);
        return SUCCEEDED(hr) ? std::wstring(bstr_view(text)) : outcome(hr);
    }

    // Reads the first part of a message, which goes on with "rest\n".
    void read_part_of_a_message()
    {
        session.add_chunk("abc", status_count_reached);
        session.add_chunk("", status_count_reached); // ends this read, not the message
        session.add_chunk("rest\n", status_end);
        EXPECT_EQ(read(), L"abc");
    }

    scripted_session session;
    Microsoft::WRL::ComPtr<IFormattedIO488> io = make_fmtdio();
};

} // namespace morvane::testing
