// Serial resource names: ASRL<n>[::INSTR] in any case, n from 1 to 256 without leading zeros.
#include <gtest/gtest.h>
#include "serial/serial_resource_name.hpp"

namespace morvane::testing {
namespace {

TEST(SerialResourceName, TakesTheNumberOfAComPort)
{
    // clang-format off
    const struct { const wchar_t* name; unsigned port; } rows[] = {
        {L"ASRL1::INSTR", 1}, {L"asrl5", 5}, {L"Asrl256::instr", 256},
        {L"ASRL0::INSTR", 0}, {L"ASRL257", 0}, {L"ASRL05", 0}, {L"ASRL", 0}, {L"ASRL1::SOCKET", 0},
        {L"ASRL1::INSTR::", 0}, {L"ASRLx", 0}, {L"ASRL-1", 0}, {L"ASRL1000", 0}, {L"GPIB1::INSTR", 0},
    };
    // clang-format on
    for (const auto& row : rows) {
        const auto parsed = serial::parse_serial_resource_name(row.name);
        EXPECT_EQ(parsed ? parsed->port : 0u, row.port) << ::testing::PrintToString(std::wstring(row.name));
    }
}

} // namespace
} // namespace morvane::testing
