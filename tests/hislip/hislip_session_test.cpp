// The HiSLIP session against an instrument that the test scripts on both channels.
#include <winsock2.h>
#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <thread>
#include <morvane_sessions.h>
#include "hislip/hislip_session.hpp"
#include "hislip/message_stream.hpp"
#include "support/error_record.hpp"
#include "support/eventually.hpp"
#include "transport/client_socket.hpp"
#include "transport/tcp_listener.hpp"

namespace morvane::testing {
namespace {

using namespace hislip;
using namespace std::chrono_literals;
using Microsoft::WRL::ComPtr;
using type = message_type;
using clock = std::chrono::steady_clock;

struct message {
    type kind;
    int control;
    std::uint32_t parameter;
    std::string payload = {};
    bool operator==(const message&) const = default;
};

void PrintTo(const message& m, std::ostream* out)
{
    *out << type_name(static_cast<std::uint8_t>(m.kind)) << " control " << m.control << " parameter " << std::hex
         << m.parameter << std::dec << " " << ::testing::PrintToString(m.payload);
}

// One end of a channel, as the instrument holds it.
struct peer_channel {
    transport::unique_socket socket;
    message_stream stream;

    // The next message; none when the session closed the channel or sent nothing for 5 s.
    std::optional<message> next()
    {
        const auto receive = [this](std::span<unsigned char> to) {
            return transport::receive_from_client(socket.get(), to.data(), to.size(), 5);
        };
        const std::optional<header> head = stream.next_header(receive);
        std::string payload(head ? static_cast<std::size_t>(head->length) : 0, '\0');
        const auto bytes = std::span(reinterpret_cast<unsigned char*>(payload.data()), payload.size());
        if (!head || !stream.whole_payload(bytes, receive))
            return std::nullopt;
        return message{head->type, head->control, head->parameter, payload};
    }
    bool raw(std::string_view b) { return ::send(socket.get(), b.data(), static_cast<int>(b.size()), 0) > 0; }
    bool send(type kind, int control, std::uint32_t parameter, std::string_view payload = {})
    {
        const header_bytes head =
            encode({kind, static_cast<std::uint8_t>(control), parameter, static_cast<std::uint64_t>(payload.size())});
        return raw(std::string(head.begin(), head.end()) + std::string(payload));
    }
};

struct instrument_options {
    bool open = true, overlapped = false;
    std::uint64_t maximum = 1 << 20;
};

// An instrument that opens both channels (unless told not to), plays `script`, and reads on.
class scripted_instrument {
public:
    using script = std::function<void(peer_channel& sync, peer_channel& async)>;

    explicit scripted_instrument(script play, instrument_options settings = {})
        : m_thread([this, play, settings] {
              peer_channel sync{m_listener.accept(5s), {}}, async;
              if (!sync.socket)
                  return;
              if (settings.open) {
                  sync.next(), sync.send(type::initialize_response, settings.overlapped, 0x0100'0007);
                  async.socket = m_listener.accept(5s);
                  async.next(), async.send(type::async_initialize_response, 0, 'M' << 8 | 'V');
                  async.next();
                  const auto maximum = encode_size(settings.maximum);
                  async.send(type::async_maximum_message_size_response, 0, 0,
                             std::string(maximum.begin(), maximum.end()));
              }
              play(sync, async);
              while (sync.next())
                  ;
          })
    {}
    ~scripted_instrument() { m_listener.stop(), m_thread.join(); }

    hislip_address address() const { return {"127.0.0.1", std::to_string(m_listener.port()), "hislip0"}; }

private:
    const transport::winsock_use m_winsock;
    transport::tcp_listener m_listener{"127.0.0.1", 0, 2};
    std::thread m_thread;
};

ComPtr<IMessage> open(const scripted_instrument& instrument, LONG timeout = 2000)
{
    ComPtr<IMessage> session;
    const HRESULT hr = open_hislip_session(instrument.address(), L"", timeout, &session);
    EXPECT_EQ(hr, S_OK) << outcome(hr);
    return session;
}

std::string write(IMessage* session, std::string_view bytes, bool end = true)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), static_cast<char*>(array->pvData));
    LONG written = -1;
    session->put_SendEndEnabled(end ? VARIANT_TRUE : VARIANT_FALSE);
    const HRESULT hr = session->Write(&array, static_cast<LONG>(bytes.size()), &written);
    SafeArrayDestroy(array);
    return FAILED(hr) ? hex(hr) : "wrote " + std::to_string(written);
}

// The bytes and the status of Read(count); a failure shows as its HRESULT.
std::string read(IMessage* session, LONG count)
{
    SAFEARRAY* bytes = nullptr;
    LONG status = -1;
    const HRESULT hr = session->Read(count, &bytes);
    session->get_LastStatus(&status);
    const std::string shown =
        bytes ? std::string(static_cast<const char*>(bytes->pvData), bytes->rgsabound[0].cElements) + " " + hex(status)
              : "";
    SafeArrayDestroy(bytes);
    return FAILED(hr) ? hex(hr) : shown;
}

template<class Interface = IMorvaneSession> ComPtr<Interface> own(IMessage* session)
{
    ComPtr<Interface> extra;
    session->QueryInterface(IID_PPV_ARGS(&extra));
    return extra;
}

// The status byte that ReadStatusByte (or, with a timeout, WaitForServiceRequest) gives, or its failure.
std::string status_byte(IMessage* s, std::optional<LONG> timeout = {})
{
    short status = 0;
    const HRESULT hr = timeout ? own<IMorvaneServiceRequests>(s)->WaitForServiceRequest(*timeout, &status)
                               : own(s)->ReadStatusByte(&status);
    return hex(FAILED(hr) ? hr : status);
}

// EnableServiceRequests' outcome, as the results below show it.
std::string enable(IMessage* s) { return hex(own<IMorvaneServiceRequests>(s)->EnableServiceRequests()); }

// Results in the order of the list (a braced list is evaluated in order), spaced.
std::string in_order(std::initializer_list<std::string> results)
{
    std::string joined;
    for (const std::string& result : results)
        joined += (joined.empty() ? "" : " ") + result;
    return joined;
}

constexpr std::uint32_t id0 = 0xFFFFFF00, id1 = 0xFFFFFF02, id2 = 0xFFFFFF04;
const std::string end = " 0", count_reached = " 40006", termination = " 40005", lost = hex(0x800400A6),
                  timed_out = hex(0x80040015);

// The port after the comma, 4880 without one; the sub-address as the name has it.
TEST(HislipResourceName, NamesOfTheSupportedForm)
{
    using address = std::optional<std::tuple<std::string, std::string, std::string>>;
    for (const auto& [name, expected] :
         {std::pair<const wchar_t*, address>{L"tcpip2::scope.lab::HiSLIP3", {{"scope.lab", "4880", "HiSLIP3"}}},
          {L"TCPIP::[fe80::1]::hislip0,4881::instr", {{"fe80::1", "4881", "hislip0"}}},
          {L"TCPIP::host::hislip0,0::INSTR", std::nullopt}}) {
        const auto parsed = parse_hislip_resource_name(name);
        const address got = parsed ? address({parsed->host, parsed->port, parsed->sub_address}) : std::nullopt;
        EXPECT_EQ(got, expected);
    }
}

// Refused, answered amiss or not at all: the open fails within its timeout with the instrument's reason.
TEST(HislipSession, OpeningFailsWithTheInstrumentsReason)
{
    const std::pair<std::function<void(peer_channel&)>, std::wstring> rows[] = {
        {[](peer_channel& sync) { sync.send(type::fatal_error, 4, 0, "busy"); },
         L"The instrument refused the session with HiSLIP FatalError 4: busy."},
        {[](peer_channel& sync) { sync.send(type::error, 0, 0); },
         L"The instrument answered Error where InitializeResponse belongs."},
        {[](peer_channel& sync) { sync.raw("HX" + std::string(14, '\0')); },
         L"The instrument broke the HiSLIP protocol: a message header without the prologue \"HS\"."},
        {[](peer_channel&) {}, L"The instrument did not open the HiSLIP session within the timeout."},
    };
    for (const auto& row : rows) {
        scripted_instrument instrument([&](peer_channel& sync, peer_channel&) { sync.next(), row.first(sync); },
                                       {.open = false});
        ComPtr<IMessage> session;
        const auto started = clock::now();
        const HRESULT hr = open_hislip_session(instrument.address(), L"", 500, &session);
        EXPECT_LT(clock::now() - started, 1s);
        EXPECT_EQ(outcome(hr), error_line(0x80040011, row.second, L"Morvane HiSLIP session", L"", 0, IID_IMessage));
    }
}

// Writes in pieces with IDs and RMT-delivered; a device clear restarts the IDs; no reply ends the session.
TEST(HislipSession, WritesMessagesThatTheInstrumentTakesAndClearsTheDevice)
{
    std::vector<message> got;
    {
        scripted_instrument instrument(
            [&](peer_channel& sync, peer_channel& async) {
                for (int i = 0; i < 8; ++i)
                    if (got.push_back(*sync.next()); i == 4)
                        sync.send(type::data_end, 0, 0xFFFFFF08, "ok\n");
                sync.send(type::data_end, 0, 0xFFFFFF0E, "x\n");
                got.push_back(*async.next());
                async.send(type::async_interrupted, 0, 0xFFFFFF0E);
                async.send(type::async_service_request, 0, 0);
                async.send(type::async_status_response, 0x42, 0);
                got.push_back(*async.next());
                async.send(type::async_device_clear_acknowledge, 1, 0);
                got.push_back(*sync.next());
                sync.send(type::data_end, 0, id0, "left over\n");
                sync.send(type::device_clear_acknowledge, 0, 0);
                got.push_back(*sync.next());
                got.push_back(*async.next()); // a status query left unanswered
            },
            {.maximum = 16 + 4});
        const ComPtr<IMessage> session = open(instrument, 300);
        IMessage* const s = session.Get();
        EXPECT_EQ(in_order({write(s, "ABCDEFGHIJ"), write(s, "", false), write(s, "KL", false), write(s, ""),
                            read(s, 10), write(s, "*TRG"), hex(own(s)->AssertTrigger()), write(s, "X"), read(s, 100),
                            status_byte(s), hex(own(s)->Clear()), write(s, "B\n")}),
                  "wrote 10 wrote 0 wrote 2 wrote 0 ok\n 0 wrote 4 0 wrote 1 x\n 0 42 0 wrote 2");
        const auto asked = clock::now();
        EXPECT_EQ(in_order({status_byte(s), hex(own(s)->AssertTrigger())}), timed_out + " " + lost);
        EXPECT_LT(clock::now() - asked, 1500ms);
    }
    // clang-format off
    EXPECT_EQ(got, (std::vector<message>{
        {type::data, 0, id0, "ABCD"}, {type::data, 0, id1, "EFGH"}, {type::data_end, 0, id2, "IJ"},
        {type::data, 0, 0xFFFFFF06, "KL"}, {type::data_end, 0, 0xFFFFFF08, ""}, {type::data_end, 1, 0xFFFFFF0A, "*TRG"},
        {type::trigger, 0, 0xFFFFFF0C, ""}, {type::data_end, 0, 0xFFFFFF0E, "X"},
        {type::async_status_query, 1, 0xFFFFFF0E, ""}, {type::async_device_clear, 0, 0, ""},
        {type::device_clear_complete, 1, 0, ""}, {type::data_end, 0, id0, "B\n"}, {type::async_status_query, 0, id0, ""}}));
    // clang-format on
}

// Reads by count, END before termination before count; an Error fails one read, a fatal one the session.
TEST(HislipSession, ReadsResponsesAsTheyComeAndFailsAsTheInstrumentSays)
{
    const auto sends = [](std::vector<message> pieces) {
        return [pieces](peer_channel& sync) {
            for (const message& piece : pieces)
                sync.send(piece.kind, piece.control, piece.parameter, piece.payload);
        };
    };
    const struct {
        const char* what;
        std::function<void(peer_channel&)> answer;
        std::vector<std::pair<LONG, std::string>> reads;
        std::optional<message> told = std::nullopt; // what the instrument is told
        bool overlapped = false, termination = false;
        LONG maximum = 1 << 20;
    } rows[] = {
        // clang-format off
        {"pieces", sends({{type::data, 0, id0, "1,2"}, {type::data_end, 0, id0, ",3\n"}}),
         {{2, "1," + count_reached}, {100, "2,3\n" + end}}},
        {"the count at END", sends({{type::data_end, 0, id0, "abc"}}), {{3, "abc" + end}}},
        {"nothing", sends({{type::data_end, 0, id0, ""}}), {{5, end}}},
        {"termination", sends({{type::data_end, 0, id0, "a\nb\n"}}),
         {{100, "a\n" + termination}, {100, "b\n" + end}}, std::nullopt, false, true},
        {"stale", sends({{type::data, 0, id0 - 2, "old"}, {type::interrupted, 0, id0},
                         {type::data_end, 0, id0, "new\n"}}), {{100, "new\n" + end}}},
        {"overlapped", sends({{type::data_end, 0, id0 - 2, "a\n"}, {type::data_end, 0, id0, "b\n"}}),
         {{100, "a\n" + end}, {100, "b\n" + end}}, std::nullopt, true},
        {"error", sends({{type::error, 4, 0, "too large"}, {type::data_end, 0, id0, "1\n"}}),
         {{100, hex(0x800400B1)}, {100, "1\n" + end}}},
        {"fatal", sends({{type::fatal_error, 0, 0, "bye"}}), {{100, lost}, {100, lost}}},
        {"prologue", [](peer_channel& sync) { sync.raw("HT" + std::string(14, '\0')); }, {{100, lost}},
         message{type::fatal_error, 1, 0, "a message header without the prologue \"HS\""}},
        {"a length that lies", [](peer_channel& sync) {
             const header_bytes head = encode({type::data, 0, id0, 1ull << 63});
             sync.raw(std::string(head.begin(), head.end())); },
         {{100, lost}}, message{type::fatal_error, 1, 0,
                                "a Data message of 9223372036854775808 bytes, past the maximum message size"}},
        {"slow header", [](peer_channel& sync) {
             const header_bytes head = encode({type::data_end, 0, id0, 2});
             sync.raw(std::string(head.begin(), head.begin() + 9));
             std::this_thread::sleep_for(700ms);
             sync.raw(std::string(head.begin() + 9, head.end()) + "2\n"); },
         {{100, timed_out}, {100, "2\n" + end}}},
        {"Data without END", [](peer_channel& sync) {
             for (const auto until = clock::now() + 3s; clock::now() < until;)
                 if (!sync.send(type::data, 0, id0, std::string(64 << 10, 'x'))) return; },
         {{1 << 20, hex(0x800400C1)}, {10, timed_out}}, std::nullopt, false, false, 10000},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::optional<message> told;
        {
            scripted_instrument instrument(
                [&](peer_channel& sync, peer_channel&) { sync.next(), row.answer(sync), told = sync.next(); },
                {.overlapped = row.overlapped});
            const ComPtr<IMessage> session = open(instrument, 500);
            EXPECT_EQ(session->put_TerminationCharacterEnabled(row.termination ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
            EXPECT_EQ(own<IMorvaneSessionLimits>(session.Get())->put_MaximumMessageSize(row.maximum), S_OK);
            EXPECT_EQ(write(session.Get(), "Q?\n"), "wrote 3");
            for (const auto& [count, result] : row.reads) {
                const auto started = clock::now();
                EXPECT_EQ(read(session.Get(), count), result);
                EXPECT_LT(clock::now() - started, 1500ms) << "its timeout and a second at most";
            }
            if (row.reads.back().second == lost) {
                EXPECT_EQ(write(session.Get(), "X"), lost);
            }
        }
        EXPECT_EQ(told, row.told);
    }
}

// Enabled, each request's status byte is asked and queued; an unanswered query drops it; bursts bounded.
TEST(HislipSession, AsksTheStatusOfEachServiceRequest)
{
    const message request{type::async_service_request, 0, 0}, late{type::async_status_response, 0x11, 0};
    const auto status = [](int value) { return message{type::async_status_response, value, 0}; };
    const auto query = [](int rmt, std::uint32_t id) { return message{type::async_status_query, rmt, id}; };
    const struct {
        const char* what;
        int unasked;                               // service requests sent first; negative: after an answer to A?\n
        std::vector<std::vector<message>> answers; // sent after each status query, the last after the rest
        std::function<std::string(IMessage*, const std::atomic<std::size_t>& asked)> client; // asked: queries seen
        std::string results;
        std::vector<message> queries;
    } rows[] = {
        // clang-format off
        {"enabled", -1, {{status(0x50)}}, [](IMessage* s, auto&) {
             return in_order({enable(s), write(s, "A?\n"), read(s, 10), status_byte(s, 2000), status_byte(s, 0)}); },
         "0 wrote 3 a\n" + end + " 50 " + timed_out, {query(1, id0)}},
        {"disabled", 1, {{status(0x10)}}, [](IMessage* s, auto&) {
             std::this_thread::sleep_for(200ms);
             return in_order({status_byte(s), enable(s), status_byte(s, 300)}); },
         "10 0 " + timed_out, {query(0, id0 - 2)}},
        {"during a call's query", 0, {{request, status(0x10)}, {status(0x50)}}, [](IMessage* s, auto&) {
             return in_order({enable(s), status_byte(s), status_byte(s, 2000)}); },
         "0 10 50", {query(0, id0 - 2), query(0, id0 - 2)}},
        {"never answered", 1, {{}, {late, status(0x22)}}, [](IMessage* s, auto&) {
             return in_order({enable(s), status_byte(s, 1500), status_byte(s), status_byte(s, 300)}); },
         "0 " + timed_out + " 22 " + timed_out, {query(0, id0 - 2), query(0, id0 - 2)}},
        {"disabled while asked", 1, {{}, {late, status(0x22)}}, [](IMessage* s, auto& asked) {
             enable(s);
             eventually([&] { return asked >= 1; });
             own<IMorvaneServiceRequests>(s)->DisableServiceRequests();
             return status_byte(s); },
         "22", {query(0, id0 - 2), query(0, id0 - 2)}},
        {"a burst of 100", -100, {{status(0x40)}}, [](IMessage* s, auto& asked) {
             const std::string wrote = in_order({enable(s), write(s, "A?\n")}); // left unread: no RMT-delivered
             eventually([&] { return asked >= 1 + 64; });
             return in_order({wrote, status_byte(s)}); },
         "0 wrote 3 40", std::vector(1 + 64 + 1, query(0, id0))}, // the first, those waiting, the call's
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<message> queries;
        std::atomic<std::size_t> asked{0};
        std::string results;
        {
            scripted_instrument instrument([&](peer_channel& sync, peer_channel& async) {
                if (row.unasked < 0) {
                    sync.next(), sync.send(type::data_end, 0, id0, "a\n");
                    std::this_thread::sleep_for(300ms);
                }
                for (int i = 0; i < std::abs(row.unasked); ++i)
                    async.send(request.kind, 0, 0);
                for (std::optional<message> got; (got = async.next());) {
                    queries.push_back(*got);
                    ++asked;
                    for (const message& answer : row.answers[std::min(queries.size(), row.answers.size()) - 1])
                        async.send(answer.kind, answer.control, answer.parameter);
                }
            });
            results = row.client(open(instrument, 300).Get(), asked);
        }
        EXPECT_EQ(results, row.results);
        EXPECT_EQ(queries, row.queries);
    }
}

} // namespace
} // namespace morvane::testing
