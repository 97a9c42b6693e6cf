// The simulated session driven as the component drives a session: byte arrays with or without END, reads by count.
#include "sim/simulated_session.hpp"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>
#include "support/eventually.hpp"
#include "support/scripted_session.hpp"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace morvane::testing;
using Microsoft::WRL::ComPtr;
const std::string identity = "Morvane,SIM-1,0,1.0";

struct chunk {
    std::string bytes;
    LONG status = status_end;
    bool operator==(const chunk&) const = default;
};

void PrintTo(const chunk& c, std::ostream* out) { *out << ::testing::PrintToString(c.bytes) << " status " << c.status; }

// The texts that SYST:ERR? gives with each code.
const std::map<int, std::string> error_texts = {
    {-102, "Syntax error"},          {-103, "Invalid separator"},  {-104, "Data type error"},
    {-108, "Parameter not allowed"}, {-109, "Missing parameter"},  {-113, "Undefined header"},
    {-138, "Suffix not allowed"},    {-161, "Invalid block data"}, {-213, "Init ignored"},
    {-222, "Data out of range"},     {-223, "Too much data"},      {-224, "Illegal parameter value"},
    {-350, "Queue overflow"},        {-410, "Query INTERRUPTED"},  {-420, "Query UNTERMINATED"}};

struct bus {
    explicit bus(std::uint32_t seed = 1, std::shared_ptr<morvane::sim::memory_budget> budget = nullptr)
        : session(morvane::sim::create_simulated_session(seed, L"SIM", 50, std::move(budget)))
    {}

    void write(std::string_view bytes, bool end = true)
    {
        ASSERT_EQ(S_OK, session->put_SendEndEnabled(end ? VARIANT_TRUE : VARIANT_FALSE));
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        std::memcpy(array->pvData, bytes.data(), bytes.size());
        LONG written = 0;
        EXPECT_EQ(S_OK, session->Write(&array, static_cast<LONG>(bytes.size()), &written));
        EXPECT_EQ(static_cast<LONG>(bytes.size()), written);
        SafeArrayDestroy(array);
    }
    HRESULT read(LONG count, chunk& out)
    {
        SAFEARRAY* array = nullptr;
        const HRESULT hr = session->Read(count, &array);
        if (SUCCEEDED(hr)) {
            out.bytes.assign(static_cast<const char*>(array->pvData), array->rgsabound[0].cElements);
            SafeArrayDestroy(array);
            EXPECT_EQ(S_OK, session->get_LastStatus(&out.status));
        }
        return hr;
    }
    std::vector<chunk> chunks(LONG count)
    {
        std::vector<chunk> read_chunks;
        for (chunk next; read(count, next) == S_OK;) {
            read_chunks.push_back(next);
            if (next.status == status_end)
                break;
        }
        return read_chunks;
    }
    std::string response()
    {
        std::string whole;
        for (const chunk& part : chunks(1000))
            whole += part.bytes;
        return whole;
    }
    std::string query(std::string_view command)
    {
        write(std::string(command) + "\n");
        return response();
    }
    // The error queue emptied, as codes; each entry's text is checked on the way.
    std::vector<int> errors()
    {
        std::vector<int> codes;
        for (std::string entry; (entry = query("SYST:ERR?")) != "0,\"No error\"\n" && codes.size() < 20;) {
            codes.push_back(std::stoi(entry));
            EXPECT_EQ(std::to_string(codes.back()) + ",\"" + error_texts.at(codes.back()) + "\"\n", entry);
        }
        return codes;
    }

    ComPtr<IMessage> session;
};

struct message {
    template<typename Text> message(Text text, bool end = true) : bytes(std::move(text)), end(end) {}
    std::string bytes;
    bool end;
};

std::string repeated(std::string_view text, int times)
{
    std::string all;
    while (times-- > 0)
        all += text;
    return all;
}

// What each command answers and what it queues, as docs/simulated-instrument.md documents them.
TEST(SimulatedSession, AnswersAndQueuesErrorsAsDocumented)
{
    const std::string data = "\n\r\0\xFF a\n"s, values = "10,13,0,255,32,97,10"; // a block's data, TRAC:VAL? of it
    // Messages written (with END unless false), the whole response (read when not empty), the errors queued
    // clang-format off
    const struct { std::vector<message> writes; std::string response; std::vector<int> errors; } cases[] = {
        // Forms of headers; a relative header after ';' starts at the node of the command before it
        {{"*idn?;*OPC?\r\n"}, identity + ";1\n", {}},
        {{":syst:err:next?;SYSTEM:ERROR?;Err:Next?\n"}, repeated("0,\"No error\";", 2) + "0,\"No error\"\n", {}},
        {{"SYSTE:ERR?;SYST1:ERR?;SYST:ERR:NEX?;*RST?;MEAS:VOLT;*OPC?\n"}, "1\n", {-113, -113, -113, -113, -113}},
        {{"WAV:POIN 5;FORM int,16;POIN?;:WAVEFORM:FORMAT?;FORM:BORD swap;*OPC?;BORD?\n"}, "5;INT,16;1;SWAP\n", {}},
        {{"WAV:FORM BYTE;FORM?;:FORM?;DATA:LIST 1, -2.5 ,3E2,+0.1;LIST?\n"}, "BYTE;1,-2.5,300,0.1\n", {-113}},
        // Counts rounded to the nearest integer, halves away from zero, before the range check
        {{"WAV:POIN 2.5;POIN?;POIN 1.49;POIN?;POIN 2000000.4;POIN?;FORM INT,31.5;FORM?\n"}, "3;1;2000000;INT,32\n", {}},
        {{"MEAS:ARR? 0.49;MEAS:ARR? 100000.5;WAV:POIN 0.4;POIN 2000000.5;POIN?\n"}, "1000\n", {-222, -222, -222, -222}},
        // Refused parameters
        {{"*RST 1;*IDN? 1;*TRG 1;MEAS:ARR?;WAV:POIN;FORM REAL;*OPC?\n"}, "1\n", {-108, -108, -108, -109, -109, -109}},
        {{"WAV:POIN \"5\";WAV:FORM REAL,16;FORM:BORD BIG;WAV:FORM BYTE,8\n"}, "", {-104, -224, -224, -108}},
        {{"FORM:BORD -1;FORM:BORD 1;FORM:BORD \"NORM\";FORM:BORD #11A\n"}, "", {-104, -104, -104, -104}},
        {{"WAV:POIN 5 V;POIN 7V;MEAS:ARR? 2 S;DATA:LIST 1,x;LIST 1e999;LIST?\n"}, "\n", {-138, -138, -138, -104, -222}},
        {{"*OPC?;WAV:POIN 5 6;*OPC?\n"}, "1\n", {-103}}, // the rest of a message after a syntax error is dropped
        {{"*OPC?;FORM:BORD NORM SWAP;*OPC?\n", "*OPC?;DATA:LIST \"1\" x\n"}, "1\n", {-103, -410, -103}},
        {{"*IDN?x\n", "1ABC\n", "DATA:LIST 1,,2\n", "DATA:LIST 1,\n", "DATA:LIST \"1\n"}, "", std::vector(5, -102)},
        {{"DATA:LIST 1" + repeated(",1", 100'000) + "\n", "*OPC?" + std::string(24u << 20, ' ') + "\n"}, "", {-223, -223}},
        // The queue: first in, first out; when full its newest entry becomes -350; *CLS empties it, *RST does not
        {{"DATA:LIST x" + repeated(";FOO", 8) + ";WAV:POIN 0;WAV:FORM REAL,8\n"}, "", {-104, -113, -113, -113, -113,
          -113, -113, -113, -113, -350}},
        {{"FOO;*CLS;SYST:ERR?;FOO;*RST\n"}, "0,\"No error\"\n", {-113}},
        // The status byte tells of queued errors; triggers are counted until *RST
        {{"*STB?;FOO;*STB?;*TRG;TRIG:COUN?;*TRG;*TRG;:TRIGGER:COUNT?;*RST;TRIG:COUN?\n"}, "0;4;1;3;0\n", {-113}},
        // Status registers: *SRE drops bit 6, *ESR? clears, *STB? shows ESB/MSS, *CLS clears, *RST keeps
        {{"*SRE 255;*SRE?;*ESE 255;*ESE?;*SRE 256;*ESE -1;*SRE?\n"}, "191;255;191\n", {-222, -222}},
        {{"*ESE 60;FOO;WAV:POIN 0;*ESR?;*ESR?;*STB?\n"}, "48;0;4\n", {-113, -222}},
        {{repeated("FOO;", 11) + "*ESR?\n"}, "40\n", {-113, -113, -113, -113, -113, -113, -113, -113, -113, -350}},
        {{"*SRE 32;*ESE 1;*OPC;*STB?;*STB?;*ESR?;*STB?\n"}, "96;96;1;0\n", {}},
        {{"*SRE 4;*ESE 36;FOO;*RST;*SRE?;*ESE?;*ESR?;*STB?\n"}, "4;36;32;68\n", {-113}},
        {{"*ESE 32;FOO;*CLS;*ESR?;*STB?\n"}, "0;0\n", {}}, {{"*IDN?\n", "*ESR?\n"}, "4\n", {-410}},
        // Acquisitions: INIT while one is under way is ignored; *RST ends it and sets its time to 0
        {{"ACQ:TIME 250.4;TIME?;TIME 600000.6;TIME -1;:ACQUIRE:TIME?;*RST;ACQ:TIME?\n"}, "250;250;0\n", {-222, -222}},
        {{"ACQ:TIME 60000;INIT;*OPC;INIT;*ESR?;*RST;INITIATE;*OPC;*ESR?\n"}, "16;1\n", {-213}},
        // Blocks: definite ones end where their length says; an indefinite one at END, all of it data
        {{"WAV:FORM BYTE;TRAC:DATA #14ABCDEF\n", "TRAC:DATA #19AB\n", "TRAC:DATA #A12\n"}, "", {-161, -161, -161}},
        {{"WAV:FORM INT,16;TRAC:DATA #13ABC\n", "WAV:FORM REAL,32;TRAC:DATA #0AB\n"}, "", {-161, -161}},
        {{"WAV:FORM BYTE;TRAC:DATA #0;*OPC?\n", "TRAC:DATA?;VAL?\n"}, "#16;*OPC?;59,42,79,80,67,63\n", {}},
        {{"WAV:FORM BYTE;TRAC:DATA #17" + data + "\n", "TRAC:DATA?;VAL?\n"}, "#17" + data + ";" + values + "\n", {}},
        {{"WAV:FORM BYTE;TRAC:DATA #17" + data, "TRAC:DATA?;VAL?\n"}, "#17" + data + ";" + values + "\n", {}},
        {{"WAV:FORM BYTE;TRAC:DATA #3007" + data + "\r\n", "TRAC:DATA?\n"}, "#3007" + data + "\n", {}},
        {{"WAV:FORM BYTE;TRAC:DATA #10\n", "TRAC:DATA?;VAL?\n"}, "#10;\n", {}},
        {{"WAV:FORM BYTE;TRAC:DATA #0" + data + "\n", "TRAC:DATA?;VAL?\n"}, "#17" + data + ";" + values + "\n", {}},
        {{"WAV:FORM BYTE;TRAC:DATA #0" + data, "TRAC:DATA?\n"}, "#16" + data.substr(0, 6) + "\n", {}},
        {{"FORM:BORD NORM;WAV:FORM INT,16;TRAC:DATA #14\x01\x02\x03\x04;TRAC:VAL?\n"}, "258,772\n", {}},
        {{"FORM:BORD SWAP;WAV:FORM INT,16;TRAC:DATA #14\x01\x02\x03\x04;TRAC:VAL?\n"}, "513,1027\n", {}},
        // A message ends at LF, END or both; an LF in a string or block is data; an indefinite block ends at END
        {{{"*IDN?\n", false}}, identity + "\n", {}}, {{{"*IDN?", true}}, identity + "\n", {}},
        {{{"*IDN?\n", true}, {"", true}}, identity + "\n", {}}, // one message: END with its line feed
        {{{"*ID", false}, {"N?", false}, {"", true}}, identity + "\n", {}}, // an empty write with END ends it
        {{{"*IDN?\n", false}, {" \r\n", false}}, identity + "\n", {}}, // white space alone is no message
        {{{"*OPC?\n*IDN?\n", false}}, identity + "\n", {-410}},
        {{{"*OPC?;DATA:LIST \"1\n2\";*OPC?\n", false}}, "1;1\n", {-104}},
        {{{"WAV:FORM BYTE;TRAC:DATA #13A\nB\n", false}, {"TRAC:DATA?\n", false}}, "#13A\nB\n", {}},
        {{{"WAV:FORM BYTE;TRAC:DATA #", false}, {"1", false}, {"3A\n", false}, {"B\nTRAC:DATA?\n", false}},
         "#13A\nB\n", {}},
        {{{"WAV:FORM BYTE;TRAC:DATA #0A\nB\n", false}, {"", true}, {"TRAC:DATA?\n", false}}, "#13A\nB\n", {}},
        {{{"WAV:FORM BYTE;TRAC:DATA #0A\nB", true}, {"TRAC:DATA?\n", false}}, "#13A\nB\n", {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writes.front().bytes.substr(0, 60));
        bus simulated;
        for (const auto& [bytes, end] : c.writes)
            simulated.write(bytes, end);
        EXPECT_EQ(c.response, c.response.empty() ? "" : simulated.response()); // read only when one is due
        // A response left unread would make this query interrupt it: -410 at the end.
        EXPECT_EQ(c.errors, simulated.errors());
    }
}

// Sessions share one budget: past it a query queues -223 and a message is dropped; a release frees it.
TEST(SimulatedSession, HoldsNoMoreThanItsBudget)
{
    using morvane::sim::memory_budget;
    const auto server = std::make_shared<memory_budget>(3u << 20); // over the budgets of each
    bus first(1, std::make_shared<memory_budget>(64u << 20, server)),
        second(1, std::make_shared<memory_budget>(64u << 20, server));
    const std::string waveform = "WAV:POIN 200000;FORM REAL,64;WAV:DATA?\n"; // 1.6 MB
    first.write(waveform);
    second.write(waveform);
    second.write("*OPC?" + std::string(2u << 20, ' ') + "\n"); // a message too long for what is left
    EXPECT_EQ("", second.response());
    EXPECT_EQ(std::vector<int>({-223, -223, -420}), second.errors());
    EXPECT_EQ(1600010u, first.response().size()); // "#71600000", the data, LF
    first.session.Reset();
    EXPECT_EQ(1600010u, second.query("WAV:DATA?").size());
}

TEST(SimulatedSession, HandsOutTheResponseByCountAndTerminationCharacter)
{
    // clang-format off
    const struct { std::string query; LONG count; VARIANT_BOOL termination; std::vector<chunk> chunks; } cases[] = {
        // The termination character's flag counts as true for every non-zero value.
        {"*IDN?", 8, 1, {{"Morvane,", status_count_reached}, {"SIM-1,0,", status_count_reached}, {"1.0\n", status_end}}},
        {"TRAC:DATA?", 100, 0x7FFF, {{"#13A\n", status_termination_character}, {"B\n", status_end}}},
        // A count that ends before the line feed, then one that ends on it
        {"TRAC:DATA?", 2, -1, {{"#1", status_count_reached}, {"3A", status_count_reached},
                               {"\n", status_termination_character}, {"B\n", status_end}}},
        {"TRAC:DATA?", 100, VARIANT_FALSE, {{"#13A\nB\n", status_end}}},
        {"TRAC:DATA?", 4, VARIANT_FALSE, {{"#13A", status_count_reached}, {"\nB\n", status_end}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query + " " + std::to_string(c.count));
        bus simulated;
        simulated.write("WAV:FORM BYTE;TRAC:DATA #13A\nB\n");
        EXPECT_EQ(S_OK, simulated.session->put_TerminationCharacterEnabled(c.termination));
        simulated.write(c.query + "\n");
        EXPECT_EQ(c.chunks, simulated.chunks(c.count));
        EXPECT_EQ(std::vector<int>{}, simulated.errors());
    }
}

// The elements of the block that `response` holds, as numbers; the block must fill it.
std::vector<double> elements(const std::string& response, const std::string& format, bool big_endian)
{
    const auto digits = static_cast<std::size_t>(response.at(1) - '0');
    const std::size_t length = std::stoul(response.substr(2, digits));
    EXPECT_EQ(2 + digits + length + 1, response.size()) << "not one block and a line feed";
    const std::size_t size = format == "REAL,64" ? 8 : format == "BYTE" ? 1 : format == "INT,16" ? 2 : 4;
    std::vector<double> values;
    for (std::size_t at = 2 + digits; at + size <= 2 + digits + length; at += size) {
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < size; ++i)
            bits |= std::uint64_t{static_cast<unsigned char>(response[at + (big_endian ? i : size - 1 - i)])}
                    << 8 * (size - 1 - i);
        values.push_back(format == "REAL,64"   ? std::bit_cast<double>(bits)
                         : format == "REAL,32" ? std::bit_cast<float>(static_cast<std::uint32_t>(bits))
                         : format == "INT,32"  ? static_cast<std::int32_t>(bits)
                         : format == "INT,16"  ? static_cast<std::int16_t>(bits)
                                               : static_cast<double>(bits));
    }
    return values;
}

// Over more points than are made at a time: a damped sine with 20 mV of bounded noise, alike in every format and order.
TEST(SimulatedSession, WaveformIsOneNoisyDampedSineInEveryFormatAndOrder)
{
    const std::string points = "3000";
    bus reference(3);
    const std::vector<double> volts =
        elements(reference.query("WAV:POIN " + points + ";WAV:FORM REAL,64;WAV:DATA?"), "REAL,64", true);
    ASSERT_EQ(std::to_string(volts.size()), points);
    EXPECT_NE(volts, elements(bus(4).query("WAV:POIN " + points + ";WAV:FORM REAL,64;WAV:DATA?"), "REAL,64", true));
    double sum = 0, squares = 0, largest = 0;
    for (std::size_t i = 0; i < volts.size(); ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(volts.size());
        const double noise = volts[i] - std::exp(-4 * t) * std::sin(10 * std::numbers::pi * t);
        sum += noise;
        squares += noise * noise;
        largest = std::max(largest, std::abs(noise));
    }
    EXPECT_NEAR(sum / static_cast<double>(volts.size()), 0, 0.002);
    EXPECT_NEAR(std::sqrt(squares / static_cast<double>(volts.size())), 0.02, 0.002);
    EXPECT_LT(largest, 0.07);

    // clang-format off
    const struct { std::string format; double counts_per_volt, zero; } formats[] = { // counts_per_volt 0: volts
        {"REAL,64", 0, 0}, {"REAL,32", 0, 0}, {"INT,32", 1e9, 0}, {"INT,16", 25000, 0}, {"BYTE", 100, 128}};
    // clang-format on
    for (const auto& f : formats) {
        std::vector<double> expected;
        for (const double v : volts)
            expected.push_back(f.counts_per_volt       ? std::round(f.zero + v * f.counts_per_volt)
                               : f.format == "REAL,32" ? static_cast<float>(v)
                                                       : v);
        for (const std::string order : {"NORM", "SWAP"}) {
            SCOPED_TRACE(f.format + " " + order);
            const std::string setup = "WAV:POIN " + points + ";WAV:FORM " + f.format + ";FORM:BORD " + order;
            EXPECT_EQ(expected, elements(bus(3).query(setup + ";WAV:DATA?"), f.format, order == "NORM"));
        }
    }
}

// *OPC? answers when the acquisition is done; a read waits up to its timeout, and one that gives up queues no error.
// *RST ends an acquisition, and *OPC no longer waits for it.
TEST(SimulatedSession, AnswersOpcQueryWhenTheAcquisitionIsDone)
{
    for (const auto& [acquire_ms, timeout_ms, first_read] :
         {std::tuple{60L, 5000L, S_OK}, {300L, 50L, session_timeout}}) {
        SCOPED_TRACE(acquire_ms);
        bus simulated;
        ASSERT_EQ(S_OK, simulated.session->put_Timeout(timeout_ms));
        const auto start = std::chrono::steady_clock::now();
        simulated.write("ACQ:TIME 60000;INIT;*OPC;*RST;ACQ:TIME " + std::to_string(acquire_ms) + ";INIT;*OPC?\n");
        chunk answer;
        EXPECT_EQ(first_read, simulated.read(100, answer));
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(std::min(acquire_ms, timeout_ms) - 5));
        EXPECT_LT(waited, 4s);
        if (FAILED(first_read)) {
            ASSERT_EQ(S_OK, simulated.session->put_Timeout(5000));
            EXPECT_EQ(S_OK, simulated.read(100, answer));
        }
        EXPECT_EQ("1\n", answer.bytes);
        EXPECT_EQ("0\n", simulated.query("*ESR?"));
        EXPECT_EQ(std::vector<int>{}, simulated.errors());
    }
}

// Release waits for a hook under way, calls none after, and may come from the hook itself.
TEST(SimulatedSession, CallsNoHookAfterRelease)
{
    const std::string pattern = "*ESE 1;*SRE 32;INIT;*OPC\n";
    {
        bus simulated;
        const auto calls = std::make_shared<std::atomic<int>>(0); // the hook's, which may outlive this block
        morvane::sim::on_service_request(simulated.session.Get(), [calls](std::uint8_t) { ++*calls; });
        simulated.write("ACQ:TIME 30;" + pattern);
        simulated.session.Reset();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(0, *calls);
    }
    {
        bus simulated;
        std::atomic<int> stage = 0; // 1: the hook runs, 2: it returned
        morvane::sim::on_service_request(
            simulated.session.Get(), [&](std::uint8_t) { stage = 1, std::this_thread::sleep_for(100ms), stage = 2; });
        simulated.write("ACQ:TIME 10;" + pattern);
        ASSERT_TRUE(eventually([&] { return stage != 0; }));
        ASSERT_EQ(1, stage);
        simulated.session.Reset();
        EXPECT_EQ(2, stage);
    }
    {
        bus simulated;
        auto released = std::make_shared<std::atomic<bool>>(false);
        IMessage* const last = simulated.session.Get();
        morvane::sim::on_service_request(last, [last, released](std::uint8_t) { last->Release(), *released = true; });
        simulated.write("ACQ:TIME 10;" + pattern);
        simulated.session.Detach(); // the hook's to release
        EXPECT_TRUE(eventually([&] { return released->load(); }));
    }
}

} // namespace
