// The simulated instrument driven the way the component drives a session: byte arrays with
// or without END, reads by count, the session properties.
#include "sim/simulated_instrument.hpp"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <regex>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Microsoft::WRL::ComPtr;

constexpr LONG end_status = 0;
constexpr LONG termination_status = 0x00040005;
constexpr LONG count_status = 0x00040006;
constexpr HRESULT timeout_expired = static_cast<HRESULT>(0x80040015);
const std::string identity = "Morvane,SIM-1,0,1.0";

struct chunk {
    std::string bytes;
    LONG status = end_status;
    bool operator==(const chunk&) const = default;
};

void PrintTo(const chunk& c, std::ostream* out) { *out << ::testing::PrintToString(c.bytes) << " status " << c.status; }

struct bus {
    explicit bus(std::uint32_t seed = 1) : session(morvane::sim::create_simulated_instrument(seed))
    {
        EXPECT_EQ(S_OK, session->put_Timeout(50));
    }

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
            if (next.status == end_status)
                break;
        }
        return read_chunks;
    }
    std::string query(std::string_view command)
    {
        write(std::string(command) + "\n");
        std::string response;
        for (const chunk& part : chunks(1000))
            response += part.bytes;
        return response;
    }
    // The error queue emptied, as codes.
    std::vector<int> errors()
    {
        std::vector<int> codes;
        for (int code; (code = std::stoi(query("SYST:ERR?"))) != 0 && codes.size() < 20;)
            codes.push_back(code);
        return codes;
    }

    ComPtr<IMessage> session;
};

std::string repeated(std::string_view text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

TEST(SimulatedInstrument, RunsEachMessageOnEndAndQueuesItsErrors)
{
    struct write_call {
        std::string bytes;
        bool end = true;
    };
    const struct {
        std::vector<write_call> writes;
        std::string response; // read when not empty
        std::vector<int> errors;
    } cases[] = {
        {{{"*ID", false}, {"N?\n"}}, identity + "\n", {}},
        {{{"*idn?;*OPC?\r\n"}}, identity + ";1\n", {}},
        {{{":syst:err?;SYSTEM:ERROR:next?\n"}}, "0,\"No error\";0,\"No error\"\n", {}},
        {{{"WAV:POIN 5;wav:poin?;wav:form int,16;:WAVEFORM:FORMAT?;FORM:BORD swap;FORM:BORD?\n"}}, "5;INT,16;SWAP\n", {}},
        {{{"DATA:LIST 1, -2.5 ,3e2,+0.1,1E-300\n"}, {"DATA:LIST?\n"}}, "1,-2.5,300,0.1,1e-300\n", {}},
        {{{"SYSTE:ERR?;MEAS:VOLT;*OPC?\n"}}, "1\n", {-113, -113}},
        {{{"*IDN?\n\n"}}, "", {-102}},
        {{{"*IDN?x\n"}}, "", {-102}},
        {{{"WAV:POIN;WAV:FORM REAL\n"}}, "", {-109, -109}},
        {{{"*RST 1;MEAS:ARR? 0;MEAS:ARR? 100001;*OPC?\n"}}, "1\n", {-108, -222, -222}},
        {{{"*IDN?;MEAS:ARR? 0;*OPC?\n"}}, identity + ";1\n", {-222}},
        {{{"WAV:POIN 0;WAV:POIN 2000001;WAV:POIN?\n"}}, "1000\n", {-222, -222}},
        {{{"WAV:POIN \"5\";WAV:FORM REAL,16;FORM:BORD BIG;WAV:FORM BYTE,8\n"}}, "", {-104, -224, -224, -108}},
        {{{"WAV:FORM BYTE;TRAC:DATA #14ABCDEF\n"}}, "", {-161}},
        {{{"WAV:FORM BYTE;TRAC:DATA #19AB\n"}}, "", {-161}},
        {{{"WAV:FORM INT,16;TRAC:DATA #13ABC\n"}}, "", {-161}},
        {{{"TRAC:DATA #0AB\n"}}, "", {-161}},
        {{{"DATA:LIST 1,,2\n"}, {"DATA:LIST 1,abc\n"}}, "", {-102, -104}},
        {{{"DATA:LIST 1" + repeated(",1", 100'000) + "\n"}}, "", {-223}},
        {{{std::string(24u << 20, ' ') + "*OPC?\n"}}, "", {-223}},
        {{{"*IDN?\n"}, {"*OPC?\n"}}, "1\n", {-410}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writes.back().bytes.substr(0, 60));
        bus instrument;
        for (const write_call& call : c.writes)
            instrument.write(call.bytes, call.end);
        if (!c.response.empty()) {
            EXPECT_EQ(std::vector<chunk>{{c.response}}, instrument.chunks(1000));
        }
        // A response left unread would make this query interrupt it: -410 at the end.
        EXPECT_EQ(c.errors, instrument.errors());
    }
}

TEST(SimulatedInstrument, DropsTheAnswerThatWouldOverfillTheResponse)
{
    bus instrument;
    ASSERT_EQ(S_OK, instrument.session->put_TerminationCharacterEnabled(VARIANT_FALSE));
    instrument.write("WAV:POIN 2000000;WAV:FORM REAL,64;WAV:DATA?;WAV:DATA?;WAV:DATA?;*OPC?\n");
    chunk whole;
    ASSERT_EQ(S_OK, instrument.read(64 << 20, whole));
    EXPECT_EQ(2 * 16'000'010 + 4, whole.bytes.size()); // two blocks, ";", ";1" and LF: a third passes 32 MiB
    EXPECT_EQ(";1\n", whole.bytes.substr(whole.bytes.size() - 3));
    EXPECT_EQ(std::vector<int>{-223}, instrument.errors());
}

TEST(SimulatedInstrument, HoldsBytesWithoutEndAndTimesOutWithNothingToRead)
{
    bus instrument;
    instrument.write("*IDN?\n", false);
    const auto start = std::chrono::steady_clock::now();
    chunk ignored;
    EXPECT_EQ(timeout_expired, instrument.read(100, ignored));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
    ComPtr<IErrorInfo> record;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &record));
    BSTR source = nullptr;
    GUID interface_id = GUID_NULL;
    EXPECT_EQ(S_OK, record->GetSource(&source));
    EXPECT_EQ(S_OK, record->GetGUID(&interface_id));
    EXPECT_STREQ(L"Morvane simulated instrument", source);
    EXPECT_EQ(IID_IMessage, interface_id);
    SysFreeString(source);
    instrument.write("\n"); // END now: the message holds a second line feed
    EXPECT_EQ((std::vector<int>{-420, -102}), instrument.errors());
}

TEST(SimulatedInstrument, ErrorQueueIsFirstInFirstOutAndBounded)
{
    bus instrument;
    instrument.write("DATA:LIST x" + repeated(";FOO", 8) + ";WAV:POIN 0;WAV:FORM REAL,8\n");
    EXPECT_EQ("-104,\"Data type error\"\n", instrument.query("SYST:ERR?"));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ("-113,\"Undefined header\"\n", instrument.query("SYST:ERR?"));
    EXPECT_EQ("-350,\"Queue overflow\"\n", instrument.query("SYST:ERR?"));
    EXPECT_EQ("0,\"No error\"\n", instrument.query("SYST:ERR?"));
    EXPECT_EQ("0,\"No error\"\n", instrument.query("FOO;*CLS;SYST:ERR?"));
}

TEST(SimulatedInstrument, HandsOutTheResponseByCountAndTerminationCharacter)
{
    const std::string data = "A\nB";
    const struct {
        std::string query;
        LONG count;
        bool termination_character;
        std::vector<chunk> chunks;
    } cases[] = {
        {"*IDN?", 8, true, {{"Morvane,", count_status}, {"SIM-1,0,", count_status}, {"1.0\n", end_status}}},
        {"*IDN?", 20, true, {{identity + "\n", end_status}}},
        {"TRAC:DATA?", 100, true, {{"#13A\n", termination_status}, {"B\n", end_status}}},
        {"TRAC:DATA?", 100, false, {{"#13A\nB\n", end_status}}},
        {"TRAC:DATA?", 4, false, {{"#13A", count_status}, {"\nB\n", end_status}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query + " " + std::to_string(c.count));
        bus instrument;
        instrument.write("WAV:FORM BYTE;TRAC:DATA #13" + data + "\n");
        EXPECT_EQ(S_OK, instrument.session->put_TerminationCharacterEnabled(c.termination_character ? VARIANT_TRUE
                                                                                                      : VARIANT_FALSE));
        instrument.write(c.query + "\n");
        EXPECT_EQ(c.chunks, instrument.chunks(c.count));
        EXPECT_EQ(std::vector<int>{}, instrument.errors());
    }
}

TEST(SimulatedInstrument, ReturnsAStoredBlockByteForByte)
{
    const std::string data = "\n\r\0\xFF a\n"s, values = "10,13,0,255,32,97,10";
    const struct {
        std::string sent;
        std::string stored;
        std::string values;
    } cases[] = {
        {"#17" + data + "\n", "#17" + data, values},
        {"#17" + data, "#17" + data, values}, // END straight after the data's own line feed
        {"#3007" + data + "\r\n", "#3007" + data, values},
        {"#10", "#10", ""},
    };
    for (const auto& c : cases) {
        bus instrument;
        instrument.write("WAV:FORM BYTE;TRAC:DATA " + c.sent);
        EXPECT_EQ(S_OK, instrument.session->put_TerminationCharacterEnabled(VARIANT_FALSE));
        EXPECT_EQ(c.stored + "\n", instrument.query("TRAC:DATA?"));
        EXPECT_EQ(c.values + "\n", instrument.query("TRAC:VAL?"));
        EXPECT_EQ(std::vector<int>{}, instrument.errors());
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

TEST(SimulatedInstrument, DecodesATraceInTheChosenByteOrder)
{
    const struct {
        std::string order;
        std::string trace_values; // of the bytes 01 02 03 04 as INT,16
    } cases[] = {{"NORM", "258,772"}, {"SWAP", "513,1027"}};
    for (const auto& c : cases) {
        bus instrument;
        const std::string upload = "FORM:BORD " + c.order + ";WAV:FORM INT,16;TRAC:DATA #14\x01\x02\x03\x04";
        EXPECT_EQ(c.trace_values + "\n", instrument.query(upload + ";TRAC:VAL?"));
    }
}

// Over more points than the instrument makes at a time: the damped sine with 20 mV of bounded
// noise, and the same volts from the same seed in every format and byte order.
TEST(SimulatedInstrument, WaveformIsOneNoisyDampedSineInEveryFormatAndOrder)
{
    const std::string points = "3000";
    bus reference(3);
    const std::vector<double> volts = elements(reference.query("WAV:POIN " + points + ";WAV:FORM REAL,64;WAV:DATA?"),
                                               "REAL,64", true);
    ASSERT_EQ(std::to_string(volts.size()), points);
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

    const struct {
        std::string format;
        double counts_per_volt; // 0 for volts
        double zero;
    } formats[] = {{"REAL,64", 0, 0}, {"REAL,32", 0, 0}, {"INT,32", 1e9, 0}, {"INT,16", 25000, 0}, {"BYTE", 100, 128}};
    for (const auto& f : formats) {
        std::vector<double> expected;
        for (const double v : volts)
            expected.push_back(f.counts_per_volt ? std::round(f.zero + v * f.counts_per_volt)
                               : f.format == "REAL,32" ? static_cast<float>(v)
                                                       : v);
        for (const std::string order : {"NORM", "SWAP"}) {
            SCOPED_TRACE(f.format + " " + order);
            bus instrument(3);
            const std::string setup = "WAV:POIN " + points + ";WAV:FORM " + f.format + ";FORM:BORD " + order;
            EXPECT_EQ(expected, elements(instrument.query(setup + ";WAV:DATA?"), f.format, order == "NORM"));
        }
    }
}

TEST(SimulatedInstrument, AnswersTheSameForTheSameSeed)
{
    const std::string readings = "MEAS:VOLT?;MEAS:ARR? 3;WAV:POIN 16;WAV:FORM INT,32;WAV:DATA?";
    bus first(7), second(7), other(8);
    const std::string answer = first.query(readings), elsewhere = other.query(readings);
    const std::string volts = answer.substr(0, answer.find('#')), waveform = answer.substr(volts.size());
    EXPECT_EQ(answer, second.query(readings));
    EXPECT_NE(volts, elsewhere.substr(0, elsewhere.find('#')));
    EXPECT_NE(waveform, elsewhere.substr(elsewhere.find('#')));
    EXPECT_NE(waveform, first.query("WAV:DATA?")); // each acquisition has noise of its own
    EXPECT_EQ(answer, first.query("*RST;" + readings)); // *RST re-seeds the noise
    // NR3 readings of 1.25 V with a millivolt of noise
    EXPECT_TRUE(std::regex_match(volts, std::regex(R"((\+1\.2[45]\d{6}E\+00[;,]){4})"))) << volts;
}

TEST(SimulatedInstrument, ServesAReaderWaitingOnAnotherThread)
{
    bus instrument;
    ASSERT_EQ(S_OK, instrument.session->put_Timeout(5000));
    std::thread writer([&] {
        std::this_thread::sleep_for(50ms);
        instrument.write("*OPC?\n");
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(std::vector<chunk>{{"1\n"}}, instrument.chunks(100));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    writer.join();
}

TEST(SimulatedInstrument, FollowsComRules)
{
    bus instrument;
    IMessage* session = instrument.session.Get();
    ComPtr<IUnknown> unknown;
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(S_OK, session->QueryInterface(IID_PPV_ARGS(&unknown)));
    EXPECT_EQ(E_NOINTERFACE, session->QueryInterface(IID_PPV_ARGS(&dispatch)));
    EXPECT_EQ(3u, session->AddRef());
    EXPECT_EQ(2u, session->Release());

    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 4);
    SAFEARRAY* words = SafeArrayCreateVector(VT_I4, 0, 4);
    SAFEARRAY* none = nullptr;
    LONG written = 0;
    const struct {
        HRESULT result;
        HRESULT expected;
    } calls[] = {
        {session->Write(&bytes, 5, &written), E_INVALIDARG},
        {session->Write(&bytes, -1, &written), E_INVALIDARG},
        {session->Write(&words, 4, &written), E_INVALIDARG},
        {session->Write(&none, 0, &written), E_POINTER},
        {session->Read(0, &none), E_INVALIDARG},
        {session->put_Timeout(-1), E_INVALIDARG},
        {session->put_SendEndEnabled(VARIANT_FALSE), S_OK},
        {session->put_TerminationCharacterEnabled(VARIANT_FALSE), S_OK},
        {session->put_Timeout(1234), S_OK},
    };
    for (const auto& call : calls)
        EXPECT_EQ(call.expected, call.result);
    SafeArrayDestroy(bytes);
    SafeArrayDestroy(words);
    VARIANT_BOOL send_end = VARIANT_TRUE, termination_character = VARIANT_TRUE;
    LONG timeout = 0;
    EXPECT_EQ(S_OK, session->get_SendEndEnabled(&send_end));
    EXPECT_EQ(S_OK, session->get_TerminationCharacterEnabled(&termination_character));
    EXPECT_EQ(S_OK, session->get_Timeout(&timeout));
    EXPECT_EQ(std::make_tuple(VARIANT_FALSE, VARIANT_FALSE, 1234L), std::make_tuple(send_end, termination_character, timeout));
}

} // namespace
