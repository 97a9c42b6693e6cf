// Every VARIANT_BOOL that the component takes or reads from its session: -1, 1 and 0x7FFF have
// one effect wherever the value is used, and 0 the other.
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include "support/fmtdio_fixture.hpp"
#include "support/variant_values.hpp"

namespace morvane::testing {
namespace {

using Booleans = bound_fmtdio;

TEST_F(Booleans, EveryTrueValueHasOneEffectAndFalseTheOther)
{
    const unique_variant one = value(VT_I4, L"1"), pair = array(VT_I4, values(VT_I4, {L"1", L"2"})),
                         word = elements(VT_I2, "\x02\x01"), byte = elements(VT_UI1, "x");
    // What a read into a VARIANT gives, or its failure.
    const auto result = [](const std::function<HRESULT(VARIANT*)>& read) {
        unique_variant v;
        const HRESULT hr = read(v.get());
        return narrow(FAILED(hr) ? outcome(hr) : contents(*v));
    };
    const auto block = [&](VARIANT_BOOL seek, VARIANT_BOOL flush, NumberType type = NumberType_UI1) {
        return result([&](VARIANT* v) { return io->ReadIEEEBlock(type, seek, flush, v); });
    };
    const std::string bare = "-2147418113 without a record"; // E_UNEXPECTED
    using act = std::function<lines(scripted_session&, VARIANT_BOOL)>;
    const struct {
        const char* name;
        const char* calls; // the session's calls shown after what the act gives, by the start of their names
        act call;
        lines if_true, if_false; // "@" stands for the true value used
    } rows[] = {
        // clang-format off
        {"WriteString flush-and-END", "write",
         [&](auto&, VARIANT_BOOL b) { return io->WriteString(bstr(L"A").get(), b), lines{}; }, {"write 2 end"}, {}},
        {"WriteNumber flush-and-END", "write",
         [&](auto&, VARIANT_BOOL b) { return io->WriteNumber(*one, NumberType_I4, b), lines{}; }, {"write 2 end"}, {}},
        {"WriteList flush-and-END", "write", [&](auto&, VARIANT_BOOL b) {
             return io->WriteList(const_cast<VARIANT*>(&*pair), NumberType_I4, bstr(L",").get(), b), lines{}; },
         {"write 4 end"}, {}},
        {"WriteIEEEBlock flush-and-END", "write",
         [&](auto&, VARIANT_BOOL b) { return io->WriteIEEEBlock(nullptr, *byte, b), lines{}; }, {"write 5 end"}, {}},
        {"FlushWrite send-END, with nothing pending and then with one byte", "", [&](auto&, VARIANT_BOOL b) {
             return lines{std::to_string(io->FlushWrite(b)), std::to_string((write(L"A", 0), io->FlushWrite(b)))}; },
         {"-2147467259", "0", "write 2 end"}, lines{"0", "0"} + chunk(1)}, // E_FAIL: no END without data
        {"ReadNumber flush-to-END", "read ", [&](scripted_session& s, VARIANT_BOOL b) {
             s.respond("1,2\n"), s.respond("next\n");
             return lines{result([&](VARIANT* v) { return io->ReadNumber(NumberType_R8, b, v); }), narrow(read())}; },
         {"5:1", "next\n", "read 1000", "read 1000"}, {"5:1", ",2\n", "read 1000"}},
        {"ReadIEEEBlock seek-to-block", "", [&](scripted_session& s, VARIANT_BOOL b) {
             return s.respond("x#11a\n"), lines{block(b, 0)}; },
         {"8209 from 0:a", "get_termchar", "put_termchar 0", "read 1", "read 1", "read 1", "read 1", "read 1",
          "get_timeout", "put_timeout 100", "read 1", "put_timeout 2000", "put_termchar -1"},
         {bare, "get_termchar", "put_termchar 0", "read 1", "put_termchar -1"}},
        // clang-format on
        {"ReadIEEEBlock flush-to-END",
         "read_string",
         [&](scripted_session& s, VARIANT_BOOL b) {
             s.respond("abc", {3}, status_count_reached); // the message goes on after "abc"
             const std::string before = narrow(read());
             s.add_chunk("#11a\n", status_end), s.add_chunk("rest\n", status_end);
             // clang-format off
             return lines{before, block(0, b)}; },
         {"abc", "8209 from 0:a", "read_string 1000"}, {"abc", "8209 from 0:a"}},
        {"InstrumentBigEndian, kept through detaching and binding", nullptr, [&](scripted_session& s, VARIANT_BOOL b) {
             VARIANT_BOOL kept = 2;
             io->put_InstrumentBigEndian(b), io->putref_IO(nullptr), io->putref_IO(&s);
             io->get_InstrumentBigEndian(&kept), io->WriteIEEEBlock(nullptr, *word, -1), s.respond("#12\x01\x02\n");
             return lines{std::to_string(kept), block(0, 0, NumberType_I2), s.writes().at(0)}; },
         {"@", "8194 from 0:\x02\x01", "#12\x01\x02\n"}, {"0", "8194 from 0:\x01\x02", "#12\x02\x01\n"}},
        {"the session's SendEndEnabled", "", [&](scripted_session& s, VARIANT_BOOL b) {
             return s.set_send_end(b), write(std::wstring(1001, L'w')), lines{}; },
         chunk(1000) + lines{"write 2 end"}, {"get_send_end", "write 1000 noend", "write 2 noend"}},
        {"the session's TerminationCharacterEnabled", "put_termchar", [&](scripted_session& s, VARIANT_BOOL b) {
             return s.set_termination_character(b), s.respond("#11a\n"), lines{block(0, 0)}; },
         {"8209 from 0:a", "put_termchar 0", "put_termchar @"}, {"8209 from 0:a", "put_termchar 0"}},
        {"the same after a failed block read", "put_termchar", [&](scripted_session& s, VARIANT_BOOL b) {
             return s.set_termination_character(b), s.respond("x#11a\n"), lines{block(0, 0)}; },
         {bare, "put_termchar 0", "put_termchar @"}, {bare, "put_termchar 0"}},
        // clang-format on
    };
    for (const auto& row : rows)
        for (const VARIANT_BOOL b : {VARIANT_BOOL(-1), VARIANT_BOOL(1), VARIANT_BOOL(0x7FFF), VARIANT_BOOL(0)}) {
            SCOPED_TRACE(::testing::Message() << row.name << " " << b);
            scripted_session fresh;
            ASSERT_EQ(io->putref_IO(&fresh), S_OK);
            lines seen = row.call(fresh, b);
            if (row.calls)
                std::ranges::copy_if(fresh.trace(), std::back_inserter(seen),
                                     [&](const std::string& call) { return call.starts_with(row.calls); });
            lines expected = b ? row.if_true : row.if_false;
            for (std::string& line : expected)
                if (line.ends_with("@"))
                    line.replace(line.size() - 1, 1, std::to_string(b));
            EXPECT_EQ(seen, expected);
            clear_thread_error();
            ASSERT_EQ(io->putref_IO(&session), S_OK);
        }
}

} // namespace
} // namespace morvane::testing
