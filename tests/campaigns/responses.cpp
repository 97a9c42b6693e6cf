// Malformed responses, read whole and in random chunks, statuses and buffer sizes, before a page with no
// access: the same result and rest either way, failures that reads name, an object that still works.
#include <algorithm>
#include "campaign.hpp"
#include "platform/ansi.hpp"

namespace morvane::campaigns {
namespace {

// A valid response: a block, or items that every type holds in the forms they may take.
void valid_response(trial& t, const call& read, const std::string& separators, std::string& bytes)
{
    const VARTYPE type = static_cast<VARTYPE>(read.code);
    const std::size_t size = type == VT_UI1 ? 1 : type == VT_I2 ? 2 : type == VT_R8 ? 8 : 4;
    const bool block = read.m == method::read_block;
    const long count = static_cast<long>(block ? t.between(0, 12) : read.m == method::read_list ? t.between(1, 6) : 1);
    for (long skipped = block && read.seek ? static_cast<long>(t.between(0, 4)) : 0; skipped > 0; --skipped)
        bytes += t.pick({'1', ',', '\n', ' '});
    const std::string length = std::to_string(count * size);
    bytes += block ? "#" + std::to_string(length.size()) + length : "";
    for (std::size_t i = 0; block && i < count * size; ++i)
        bytes += static_cast<char>(t.between(0, 255));
    for (long i = 0; !block && i < count; ++i) {
        const long n = static_cast<long>(t.between(0, 1020));
        if (i > 0)
            bytes += separators[t.between(0, std::ssize(separators) - 1)];
        if (type == VT_I2 || type == VT_I4 || type == VT_UI1 || t.chance(40))
            bytes += t.pick<std::string>({"", " ", "+"}) + std::to_string(n / 4);
        else if (t.chance(50))
            bytes += std::to_string(n / 4) + "." + std::to_string(n % 4 * 25);
        else
            bytes += std::to_string(n * 25) + "e-2";
    }
    bytes += read.m == method::read_number ? t.pick<std::string>({"", "\n", ",7\n", " V\n"})
                                           : t.pick<std::string>({"", "\n", "\n9\n"});
}

// A few random changes, a run the size of a token buffer among them.
void mutate(trial& t, std::string& bytes)
{
    enum mutation { flip_bit, insert_byte, erase_byte, cut, insert_run };
    for (long n = t.chance(70) ? static_cast<long>(t.between(1, 4)) : 0; n > 0; --n) {
        const std::size_t at = static_cast<std::size_t>(t.between(0, std::ssize(bytes)));
        const char byte = t.chance(50) ? static_cast<char>(t.between(0, 255))
                                       : t.pick({'\n', '\r', '#', ',', ';', ' ', '\0', '-', '.', 'e', '9'});
        switch (at < bytes.size() ? static_cast<mutation>(t.between(flip_bit, insert_run)) : insert_byte) {
        case flip_bit: bytes[at] ^= static_cast<char>(1 << t.between(0, 7)); break;
        case insert_byte: bytes.insert(at, 1, byte); break;
        case erase_byte: bytes.erase(at, 1); break;
        case cut: bytes.resize(at); break;
        case insert_run: bytes.insert(at, static_cast<std::size_t>(t.between(90, 110)), byte);
        }
    }
}

} // namespace

void responses(trial& t)
{
    const method kind = t.pick({method::read_string, method::read_number, method::read_list, method::read_block});
    const VARTYPE type = kind == method::read_list ? t.pick(list_types) : t.pick(number_types);
    const unique_bstr separators = bstr(t.pick<std::wstring>({L"", L",", L";", L";:", L",;"}));
    const std::string separator_bytes = SysStringLen(separators.get()) ? to_ansi(bstr_view(separators.get())) : ",;";
    unique_variant value;
    // clang-format off
    const call read{.m = kind, .code = type, .flag = t.boolean(), .seek = t.boolean(),
                    .separator = separators.get(), .output = &value};
    // clang-format on
    std::string& bytes = t.input;
    valid_response(t, read, separator_bytes, bytes);
    if (t.chance(10)) { // or any bytes
        bytes.resize(static_cast<std::size_t>(t.between(0, 300)));
        std::ranges::generate(bytes, [&] { return static_cast<char>(t.between(0, 255)); });
    }
    mutate(t, bytes);
    // A block's Read counts are filled across chunks, as a session over an instrument fills them.
    std::wstring results[2];
    for (const bool chunked : {false, true}) {
        scripted_session session;
        session.guard_reads(true);
        session.join_chunks(kind == method::read_block);
        ComPtr<IFormattedIO488> io = bound(session);
        io->SetBufferSize(BufferMask_Input, chunked ? t.pick<long>({1, 2, 3, 7, 16, 64, 1000}) : 1000);
        std::string_view rest = bytes;
        for (std::size_t n; chunked && rest.size() > 1 && t.chance(85); rest.remove_prefix(n)) {
            n = static_cast<std::size_t>(t.between(1, std::min<long long>(std::ssize(rest) - 1, 64)));
            // a list ends at any other status
            const bool other_status = (kind != method::read_list || type == VT_BSTR) && t.chance(30);
            session.add_chunk(std::string(rest.substr(0, n)), other_status ? 0x3FFF0005 : status_count_reached);
        }
        session.add_chunk(std::string(rest), t.pick({status_end, status_termination_character}));
        results[chunked] = run_call(t, read, io, session) + L" | ";
        const auto [hr, after] = read_string(io.Get());
        results[chunked] += outcome(hr) + L" " + after;
        if (chunked)
            expect_exchange(t, io.Get(), session);
    }
    t.expect(results[1] == results[0], L"chunked and whole differ:\n  " + results[1] + L"\n  " + results[0]);
    const auto is = [&](const std::wstring& start) { return results[0].starts_with(start + L" "); };
    const bool named = is(outcome(S_OK)) || own_failure(results[0], {1019, 1020, 1024, 1034, 1049});
    const bool timed_out =
        is(outcome(E_UNEXPECTED) + L" 0:") || is(session_failure(session_timed_out, E_UNEXPECTED) + L" 0:");
    t.expect(named || (kind == method::read_block && timed_out), L"a failure that reads do not name: " + results[0]);
}

} // namespace morvane::campaigns
