// The sessions server installed as the package installs it.
#include "sessions_client.hpp"
#include "support/shipped_files.hpp"

namespace morvane::testing {
namespace {

// Once for the whole program, in the package's order.
class installed : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(run(shipped_file(L"register_typelib.exe"), quoted(shipped_file(L"visacom.tlb"))), 0);
        for (const wchar_t* dll : {L"Morvane.dll", L"MorvaneSessions.dll"})
            ASSERT_EQ(run(L"regsvr32.exe", L"/s " + quoted(shipped_file(dll))), 0) << dll;
    }
};
const auto* const installation = ::testing::AddGlobalTestEnvironment(new installed);

} // namespace
} // namespace morvane::testing
