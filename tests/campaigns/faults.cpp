// Session faults: a method's scenario, then again with each of its session calls failing, with and without
// error information: expected()'s result, the settings as they were, no reference kept, a working object.
#include <algorithm>
#include "campaign.hpp"

namespace morvane::campaigns {
namespace {

struct scenario {
    call c;
    bool send_end, termination;
    long size;
    std::string text;
    std::vector<std::string> chunks{}; // the response
};

// What each method gives when its session call k fails: one table for all methods.
std::wstring expected(const scenario& s, const std::vector<session_call>& calls, std::size_t k, bool informed,
                      const std::wstring& clean)
{
    const std::wstring session_error = informed ? session_failure() : internal_failure();
    std::string read; // what the reads before call k took (they come in pairs with their status)
    for (std::size_t i = 0; i < k / 2 && i < s.chunks.size(); ++i)
        read += s.chunks[i];
    const bool write_after = std::any_of(calls.begin() + static_cast<long>(k) + 1, calls.end(),
                                         [](const session_call& c) { return c.op == session_op::write; });
    const VARTYPE type = static_cast<VARTYPE>(s.c.code);
    switch (s.c.m) {
    case method::write_string:
    case method::write_number:
    case method::write_block:
        if (!s.c.flag || !write_after) // a failure before the final write leaves nothing to end
            return session_error;
        return component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033);
    case method::read_number: // none, or the number (VT_R8) unless the flush failed
        if (read.empty())
            return no_number() + L" 0:";
        return s.c.flag ? session_error + L" 0:" : outcome(S_OK) + L" 5:" + wide(read);
    case method::read_list: // a string list or a whole item ends with the failure, a cut item is its own
        if (type == VT_BSTR || (!read.empty() && read.back() != ','))
            return session_error;
        if (type == VT_VARIANT)
            return terminated() + L" 0:";
        return item_failure(int(std::ranges::count(read, ',')) + 1, type == VT_R4 || type == VT_R8) + L" 0:";
    case method::read_block: // the byte after the data may time out: the failure without a record of the component's
        if (k > 0 && calls[k].op == session_op::read && calls[k - 1].op == session_op::put_timeout)
            return clean;
        return (informed ? session_failure(L"link down", E_UNEXPECTED) : outcome(E_UNEXPECTED)) + L" 0:";
    case method::put_io:
    case method::final_release: // they ignore what their buffers meet
        return clean;
    default: return session_error;
    }
}

std::wstring run_scenario(trial& t, const scenario& s, std::vector<session_call>& clean, std::size_t k = 0,
                          bool informed = false)
{
    scripted_session session;
    session.set_send_end(s.send_end ? VARIANT_TRUE : VARIANT_FALSE);
    session.set_termination_character(s.termination ? VARIANT_TRUE : VARIANT_FALSE);
    ComPtr<IFormattedIO488> io = bound(session);
    // What the method works on: output pending, a message half read, a response.
    const method m = s.c.m;
    io->SetBufferSize(m == method::read_string ? BufferMask_Input : BufferMask_Output, s.size);
    const bool settling = m >= method::set_buffer_size; // its buffers meet a message half read and output pending
    if (settling) {                                     // ends a read, not the message
        session.add_chunk("abc", status_count_reached);
        session.add_chunk("", status_count_reached);
    }
    for (std::size_t i = 0; i < s.chunks.size(); ++i)
        session.add_chunk(s.chunks[i], i + 1 < s.chunks.size() ? status_count_reached : status_end);
    if (settling)
        read_string(io.Get());
    if (settling || m == method::write_number || m == method::write_list || m == method::write_block)
        io->WriteString(bstr(wide(s.text)).get(), VARIANT_FALSE);
    const std::size_t before = session.calls().size();
    const session_call* failing = clean.empty() ? nullptr : &clean[k];
    if (failing) { // the same call as in the clean run, counting those before the method
        const long earlier =
            std::ranges::count(clean.begin(), clean.begin() + static_cast<long>(k) + 1, failing->op, &session_call::op);
        const bool trailing_byte = m == method::read_block && k > 0 && clean[k - 1].op == session_op::put_timeout;
        session.fail(failing->op, session.count(failing->op) + static_cast<int>(earlier),
                     trailing_byte ? session_timeout : link_down,
                     informed ? std::optional<std::wstring>(L"link down") : std::nullopt);
    }
    const std::wstring result = run_call(t, s.c, io, session);
    if (!failing)
        clean.assign(session.calls().begin() + static_cast<long>(before), session.calls().end());
    // A put that sets a value back and fails leaves the setting as the failure left it.
    const bool restoring =
        failing && failing->count != (failing->op == session_op::put_timeout ? 100 : 0) &&
        (failing->op == session_op::put_send_end || failing->op == session_op::put_termination_character ||
         failing->op == session_op::put_timeout);
    const bool as_set = session.send_end() == s.send_end && session.termination_character() == s.termination &&
                        session.timeout() == 2000;
    t.expect(restoring || as_set, L"session settings changed by " + result);
    if (io)
        expect_exchange(t, io.Get(), session);
    io.Reset();
    t.expect(session.references() == 0, L"session references kept after " + result);
    return result;
}

} // namespace

void faults(trial& t)
{
    argument_store store;
    std::string text(static_cast<std::size_t>(t.between(1, 40)), ' ');
    std::ranges::generate(text, [&] { return static_cast<char>(t.between('a', 'z')); });
    const method m = t.pick({method::write_string, method::write_number, method::write_list, method::write_block,
                             method::read_string, method::read_number, method::read_list, method::read_block,
                             method::set_buffer_size, method::flush, method::put_io, method::final_release});
    VARIANT* data =
        store.variants.emplace_back(m == method::write_number ? value(VT_R8, L"0") : elements(VT_UI1, text)).get();
    const unique_bstr written = bstr(wide(text));
    const unique_bstr comma = bstr(L",");
    // clang-format off
    const long code = m == method::read_list || m == method::write_list      ? t.pick(list_types)
                      : m == method::read_block || m == method::write_number ? t.pick(number_types)
                                                                             : t.pick<long>({0, 1}); // flush: FlushRead when odd
    scenario s{.c = {.m = m, .code = code, .mask = t.pick<long>({BufferMask_Input, BufferMask_Output}), .size = 7,
                     .flag = t.boolean(), .seek = t.boolean(), .text = written.get(), .separator = comma.get(),
                     .data = data, .output = &store.output, .bad = data, .usable = true}, // put_io rebinds
               .send_end = t.chance(70), .termination = t.chance(70), .size = t.pick<long>({3, 10, 1000}),
               .text = text};
    // clang-format on
    std::string response = m == method::read_number ? std::to_string(t.between(1, 999999))
                           : m == method::read_list ? std::to_string(t.between(1, 255))
                                                    : text;
    for (long n = m == method::read_list ? static_cast<long>(t.between(0, 3)) : 0; n > 0; --n)
        response += "," + std::to_string(t.between(1, 255));
    if (m == method::read_block) // after bytes to seek past, or none, a block of 8 bytes
        s.chunks = {(s.c.seek ? "12#18" : "#18") + text.substr(0, 1) + "1234567" + (t.chance(50) ? "\n" : "")};
    for (std::size_t at = 0; m != method::read_block && at <= response.size(); at += s.chunks.back().size())
        s.chunks.push_back((response + "\n").substr(at, static_cast<std::size_t>(t.between(1, 4))));
    t.input = text + " " + response;
    std::vector<session_call> calls;
    const std::wstring clean = run_scenario(t, s, calls);
    for (std::size_t k = 0; k < calls.size(); ++k)
        for (const bool informed : {false, true}) {
            const std::wstring got = run_scenario(t, s, calls, k, informed);
            const std::wstring wanted = expected(s, calls, k, informed, clean);
            const std::wstring failing = std::to_wstring(k + 1) + (informed ? L" failing with" : L" failing without");
            t.expect((got + L" ").starts_with(wanted + L" "),
                     L"call " + failing + L" error information\n  got:    " + got + L"\n  wanted: " + wanted);
        }
}

} // namespace morvane::campaigns
