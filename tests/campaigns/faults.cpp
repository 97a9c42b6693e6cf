// Session faults: a random scenario of one method runs as it should, which gives its session
// calls; then again for every k with call k failing, with and without error information. The
// result must be expected()'s for that method and call, the session's settings as they were, no
// session reference kept, and the object working.
#include "campaigns/campaign.hpp"

namespace morvane::campaigns {
namespace {

enum method { write_string, write_number, write_list, write_block, flush_write, read_string, read_number, read_list, read_block,
              flush_read, set_buffer_size, rebind, final_release };

struct scenario {
    method m;
    bool flush, seek, input_side, send_end, termination;
    long size;
    VARTYPE type;
    std::string text;
    std::vector<std::string> chunks; // the response
};

// The method's call, after what it works on (output pending, a message half read, a response) and before_the_call().
std::wstring call_method(const scenario& s, IFormattedIO488* io, scripted_session& session, const std::function<void()>& before_the_call)
{
    io->SetBufferSize(s.m == read_string ? BufferMask_Input : BufferMask_Output, s.size);
    if (s.m >= flush_read)
        session.add_chunk("abc", status_count_reached), session.add_chunk("", status_count_reached); // ends a read, not the message
    for (std::size_t i = 0; i < s.chunks.size(); ++i)
        session.add_chunk(s.chunks[i], i + 1 < s.chunks.size() ? status_count_reached : status_end);
    BSTR part = nullptr;
    if (s.m >= flush_read)
        io->ReadString(&part), SysFreeString(part);
    if ((s.m > write_string && s.m <= flush_write) || s.m >= set_buffer_size)
        io->WriteString(bstr(wide(s.text)).get(), VARIANT_FALSE);
    unique_variant value, bytes;
    V_VT(value.get()) = s.m == read_string ? VT_BSTR : s.m == write_number ? VT_R8 : VT_EMPTY, V_BSTR(value.get()) = nullptr;
    V_VT(bytes.get()) = VT_ARRAY | VT_UI1, V_ARRAY(bytes.get()) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(s.text.size()));
    com_ptr<IMessage> bound;
    const VARIANT_BOOL flush = s.flush;
    before_the_call();
    const HRESULT hr = s.m == write_string ? io->WriteString(bstr(wide(s.text)).get(), flush)
                       : s.m == write_number ? io->WriteNumber(*value, enum_bits(VT_R8), flush)
                       : s.m == write_list ? io->WriteList(bytes.get(), enum_bits(VT_UI1), bstr(L",").get(), flush)
                       : s.m == write_block ? io->WriteIEEEBlock(bstr(L"DATA").get(), *bytes, flush)
                       : s.m == flush_write ? io->FlushWrite(flush)
                       : s.m == read_string ? io->ReadString(&V_BSTR(value.get()))
                       : s.m == read_number ? io->ReadNumber(enum_bits(VT_R8), flush, value.get())
                       : s.m == read_list ? io->ReadList(enum_bits(s.type), nullptr, value.get())
                       : s.m == read_block ? io->ReadIEEEBlock(enum_bits(s.type), s.seek, flush, value.get())
                       : s.m == flush_read ? io->FlushRead()
                       : s.m == set_buffer_size ? io->SetBufferSize(s.input_side ? BufferMask_Input : BufferMask_Output, 7)
                       : (io->get_IO(&bound), s.m == rebind ? io->putref_IO(bound.Get()) : (io->Release(), S_OK));
    return s.m >= read_string && s.m <= read_block ? result_text(hr, *value) : outcome(hr);
}

// What each method gives when its session call k fails: one table for all methods.
std::wstring expected(const scenario& s, const std::vector<session_call>& calls, std::size_t k, bool informed, const std::wstring& clean)
{
    const std::wstring session_error = informed ? session_failure() : internal_failure();
    std::string read; // what the reads before call k took (they come in pairs with their status)
    for (std::size_t i = 0; i < k / 2 && i < s.chunks.size(); ++i)
        read += s.chunks[i];
    const bool write_after = std::any_of(calls.begin() + static_cast<long>(k) + 1, calls.end(), [](const session_call& c) { return c.op == session_op::write; });
    switch (s.m) {
    case write_string: case write_number: case write_block: // a failure before the final write leaves nothing to end
        return s.flush && write_after ? component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033) : session_error;
    case read_number: // no number, or the number unless the flush failed
        return read.empty() ? no_number() + L" 0" : s.flush ? session_error + L" 0" : outcome(S_OK) + L" 5:" + wide(read);
    case read_list: // a string list or a whole item ends with the failure, a cut item is its own
        if (s.type == VT_BSTR || (!read.empty() && read.back() != ','))
            return session_error;
        return (s.type == VT_VARIANT ? terminated() : item_failure(static_cast<int>(std::ranges::count(read, ',')) + 1, s.type == VT_R4 || s.type == VT_R8)) + L" 0";
    case read_block: // the byte after the data may time out
        return k > 0 && calls[k].op == session_op::read && calls[k - 1].op == session_op::put_timeout ? clean : outcome(E_UNEXPECTED) + L" 0";
    case rebind: case final_release: return clean;
    default: return session_error;
    }
}

// Runs the scenario on a new object; with `clean` calls, call k of them fails.
std::wstring run(trial& t, const scenario& s, std::vector<session_call>& clean, std::size_t k = 0, bool informed = false)
{
    scripted_session session;
    session.set_send_end(s.send_end), session.set_termination_character(s.termination);
    IFormattedIO488* io = make_fmtdio().Detach();
    io->putref_IO(&session);
    std::size_t before = 0;
    const session_call* failing = clean.empty() ? nullptr : &clean[k];
    const std::wstring result = call_method(s, io, session, [&] {
        before = session.calls().size();
        clear_thread_error();
        if (!failing)
            return;
        const long earlier = std::count_if(clean.begin(), clean.begin() + static_cast<long>(k) + 1, [&](const session_call& c) { return c.op == failing->op; });
        const bool trailing_byte = s.m == read_block && k > 0 && clean[k - 1].op == session_op::put_timeout;
        session.fail(failing->op, session.count(failing->op) + static_cast<int>(earlier), trailing_byte ? session_timeout : link_down,
                     informed ? std::optional<std::wstring>(L"link down") : std::nullopt);
    });
    if (!failing)
        clean.assign(session.calls().begin() + static_cast<long>(before), session.calls().end());
    // A put that sets a value back and fails leaves the setting as the failure left it.
    const bool restoring = failing && failing->count != (failing->op == session_op::put_timeout ? 100 : 0) &&
                           (failing->op == session_op::put_send_end || failing->op == session_op::put_termination_character || failing->op == session_op::put_timeout);
    t.expect(restoring || (session.send_end() == s.send_end && session.termination_character() == s.termination && session.timeout() == 2000),
             L"session settings changed by " + result);
    if (session.references() > 0)
        expect_exchange(t, io, session), io->Release();
    t.expect(session.references() == 0, L"session references kept after " + result);
    return result;
}

} // namespace

void session_faults(trial& t)
{
    scenario s{static_cast<method>(t.between(write_string, final_release)), t.chance(50), t.chance(50), t.chance(50), t.chance(70),
               t.chance(70), t.pick<long>({3, 10, 1000}), t.pick<VARTYPE>({2, 3, 4, 5, 8, 12, 17}), std::string(t.between(1, 40), ' '), {}};
    std::ranges::generate(s.text, [&] { return static_cast<char>(t.between('a', 'z')); });
    std::string response = s.m == read_number ? std::to_string(t.between(1, 999999)) : s.m == read_list ? std::to_string(t.between(1, 255)) : s.text;
    for (long n = s.m == read_list ? static_cast<long>(t.between(0, 3)) : 0; n > 0; --n)
        response += "," + std::to_string(t.between(1, 255));
    if (s.m == read_block) // after bytes to seek past, or none, a block of 8 bytes
        s.chunks = {(s.seek ? "12#18" : "#18") + s.text.substr(0, 1) + "1234567" + (t.chance(50) ? "\n" : "")}, s.type = t.pick<VARTYPE>({2, 3, 4, 5, 17});
    for (std::size_t at = 0; s.m != read_block && at <= response.size(); at += s.chunks.back().size())
        s.chunks.push_back((response + "\n").substr(at, static_cast<std::size_t>(t.between(1, 4))));
    t.input = s.text + " " + response;
    std::vector<session_call> calls;
    const std::wstring clean = run(t, s, calls);
    for (std::size_t k = 0; k < calls.size() * 2; ++k) {
        const std::wstring got = run(t, s, calls, k / 2, k % 2), wanted = expected(s, calls, k / 2, k % 2, clean);
        t.expect((got + L" ").starts_with(wanted + L" "), L"call " + std::to_wstring(k / 2 + 1) + L" failing " + (k % 2 ? L"with" : L"without") +
                                                              L" error information\n  got:    " + got + L"\n  wanted: " + wanted);
    }
}

} // namespace morvane::campaigns
