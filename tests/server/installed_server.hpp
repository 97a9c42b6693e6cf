#pragma once
// The component installed as the documented steps install it: the stand-in standard
// library registered with register_typelib, then Morvane.dll with regsvr32. The suite
// removes both again when it ends.
#include <gtest/gtest.h>
#include <visacom.h>
#include "server_client.hpp"
#include "server_ids.hpp"

namespace server_tests {

class installed_server : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(run_program(tool() + quoted(shipped_file(L"visacom.tlb"))), 0u);
        ASSERT_EQ(regsvr32(shipped_file(L"Morvane.dll")), 0u);
    }
    static void TearDownTestSuite()
    {
        EXPECT_EQ(regsvr32(shipped_file(L"Morvane.dll"), true), 0u);
        EXPECT_EQ(run_program(tool() + L"/u " + quoted(shipped_file(L"visacom.tlb"))), 0u);
    }

    // A new object by program identifier, as a client creates one.
    static com_ptr<IFormattedIO488> create_by_progid(const wchar_t* progid)
    {
        CLSID clsid{};
        com_ptr<IFormattedIO488> object;
        EXPECT_EQ(CLSIDFromProgID(progid, &clsid), S_OK);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid_formatted_io, &object), S_OK);
        return object;
    }

private:
    static std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }
    static std::wstring tool() { return quoted(shipped_file(L"register_typelib.exe")) + L" "; }
};

} // namespace server_tests
