// Session faults: a random scenario of one method runs once as it should, which gives the
// session calls that the method makes; then, for every k, once more with its k-th call
// failing, with and without error information. The result must be what the method gives for a
// failure at that call (expected() below), the session's settings must be as they were before
// the call, no session reference may be kept, and the object must still work.
#include <algorithm>
#include <functional>
#include "campaigns/campaign.hpp"

namespace morvane::campaigns {
namespace {

// What a method gives for a failed session call.
enum class rule {
    session,      // the session's error, or message 2009 without its error information
    ending_write, // with flush-and-END, a failure before the final write leaves nothing to end: message 115
    block,        // E_UNEXPECTED without error information; a timeout of the byte after the data is success
    ignored,      // S_OK: rebinding and final release ignore what their buffers meet
    number,       // by the bytes read before the failure: message 129, the number, or the session's error
    list,         // by the bytes read before the failure: the item's message or the session's error
};

struct scenario {
    std::function<void(IFormattedIO488*, scripted_session&)> setup; // not counted
    std::function<std::wstring(IFormattedIO488*)> call;
    rule what;
    bool flush = false;
    long code = 0;
    std::vector<std::string> chunks = {}; // numbers and lists: the response
};

std::wstring result(HRESULT hr, const VARIANT& value)
{
    return result_text(hr, value);
}

unique_variant byte_array(const std::string& bytes)
{
    unique_variant array;
    V_VT(array.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(array.get()) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    std::memcpy(V_ARRAY(array.get())->pvData, bytes.data(), bytes.size());
    return array;
}

std::string letters(trial& t, long long most)
{
    std::string text(static_cast<std::size_t>(t.between(1, most)), ' ');
    for (char& c : text)
        c = static_cast<char>(t.between('a', 'z'));
    return text;
}

// A response of digits in chunks (lists: separated), and a partly read message before it.
std::vector<std::string> chunks_of(trial& t, const std::string& response)
{
    std::vector<std::string> chunks;
    for (std::size_t at = 0; at < response.size();) {
        chunks.push_back(response.substr(at, static_cast<std::size_t>(t.between(1, 4))));
        at += chunks.back().size();
    }
    return chunks;
}

void script(scripted_session& session, const std::vector<std::string>& chunks)
{
    for (std::size_t i = 0; i < chunks.size(); ++i)
        session.add_chunk(chunks[i], i + 1 < chunks.size() ? status_count_reached : status_end);
}

void read_part_of_a_message(IFormattedIO488* io, scripted_session& session, const std::vector<std::string>& rest)
{
    session.add_chunk("abc", status_count_reached);
    session.add_chunk("", status_count_reached); // ends that read, not the message
    script(session, rest);
    BSTR part = nullptr;
    io->ReadString(&part);
    SysFreeString(part);
}

scenario make_scenario(trial& t)
{
    const bool flush = t.chance(50);
    const long size = t.pick<long>({3, 10, 1000});
    const std::string text = letters(t, 40), digits = std::to_string(t.between(1, 999999));
    const std::vector<std::string> rest = chunks_of(t, text + "\n");
    t.input = text + " " + digits;
    const auto write_text = [=](IFormattedIO488* io, scripted_session&) {
        io->SetBufferSize(BufferMask_Output, size);
        io->WriteString(bstr(std::wstring(text.begin(), text.end())).get(), VARIANT_FALSE);
    };
    switch (t.between(0, 12)) {
    case 0:
        return {[=](IFormattedIO488* io, scripted_session&) { io->SetBufferSize(BufferMask_Output, size); },
                [=](IFormattedIO488* io) { return outcome(io->WriteString(bstr(std::wstring(text.begin(), text.end())).get(), flush)); },
                flush ? rule::ending_write : rule::session, flush};
    case 1:
        return {write_text, [=](IFormattedIO488* io) {
                    VARIANT number{};
                    V_VT(&number) = VT_R8, V_R8(&number) = 1.25;
                    return outcome(io->WriteNumber(number, number_type(VT_R8), flush));
                }, flush ? rule::ending_write : rule::session, flush};
    case 2:
        return {write_text, [=](IFormattedIO488* io) {
                    unique_variant array = byte_array(digits);
                    return outcome(io->WriteList(array.get(), number_type(VT_UI1), bstr(L",").get(), flush));
                }, rule::session};
    case 3:
        return {write_text, [=](IFormattedIO488* io) {
                    const unique_variant array = byte_array(text);
                    return outcome(io->WriteIEEEBlock(bstr(L"DATA").get(), *array, flush));
                }, flush ? rule::ending_write : rule::session, flush};
    case 4:
        return {write_text, [=](IFormattedIO488* io) { return outcome(io->FlushWrite(flush)); }, rule::session};
    case 5:
        return {[=](IFormattedIO488* io, scripted_session& session) {
                    io->SetBufferSize(BufferMask_Input, size);
                    script(session, rest);
                }, [](IFormattedIO488* io) {
                    unique_variant text;
                    V_VT(text.get()) = VT_BSTR;
                    return result(io->ReadString(&V_BSTR(text.get())), *text);
                }, rule::session};
    case 6: {
        scenario s{nullptr, [=](IFormattedIO488* io) {
                       unique_variant number;
                       return result(io->ReadNumber(number_type(VT_R8), flush, number.get()), *number);
                   }, rule::number, flush, 0, chunks_of(t, digits + "\n")};
        s.setup = [chunks = s.chunks](IFormattedIO488*, scripted_session& session) { script(session, chunks); };
        return s;
    }
    case 7: {
        const long code = t.pick<long>({2, 3, 4, 5, 8, 12, 17});
        std::string list = std::to_string(t.between(1, 255));
        for (long n = static_cast<long>(t.between(0, 3)); n > 0; --n)
            list += "," + std::to_string(t.between(1, 255));
        scenario s{nullptr, [=](IFormattedIO488* io) {
                       unique_variant items;
                       return result(io->ReadList(number_type(code), nullptr, items.get()), *items);
                   }, rule::list, false, code, chunks_of(t, list + "\n")};
        s.setup = [chunks = s.chunks](IFormattedIO488*, scripted_session& session) { script(session, chunks); };
        return s;
    }
    case 8: {
        const long code = t.pick<long>({2, 3, 4, 5, 17});
        const bool seek = t.chance(50);
        const std::string block = (seek ? "12" : "") + std::string("#18") + text.substr(0, 1) + "1234567" + (t.chance(50) ? "\n" : "");
        return {[=](IFormattedIO488*, scripted_session& session) { session.respond(block); }, [=](IFormattedIO488* io) {
                    unique_variant values;
                    return result(io->ReadIEEEBlock(number_type(code), seek, flush, values.get()), *values);
                }, rule::block};
    }
    case 9:
        return {[=](IFormattedIO488* io, scripted_session& session) { read_part_of_a_message(io, session, rest); },
                [](IFormattedIO488* io) { return outcome(io->FlushRead()); }, rule::session};
    case 10: {
        const BufferMask mask = t.pick({BufferMask_Input, BufferMask_Output});
        return {[=](IFormattedIO488* io, scripted_session& session) {
                    read_part_of_a_message(io, session, rest);
                    write_text(io, session);
                }, [=](IFormattedIO488* io) { return outcome(io->SetBufferSize(mask, 7)); },
                rule::session};
    }
    default:
        // Rebinding the same session, or the final release: both with output pending and a message half read.
        return {[=](IFormattedIO488* io, scripted_session& session) {
                    read_part_of_a_message(io, session, rest);
                    write_text(io, session);
                }, [rebind = t.chance(50)](IFormattedIO488* io) {
                    com_ptr<IMessage> session;
                    io->get_IO(&session);
                    return outcome(rebind ? io->putref_IO(session.Get()) : (io->Release(), S_OK));
                }, rule::ignored};
    }
}

// The bytes that reads and their statuses had delivered before call k (reads come in pairs).
std::string delivered(const scenario& s, std::size_t k)
{
    std::string bytes;
    for (std::size_t i = 0; i < k / 2 && i < s.chunks.size(); ++i)
        bytes += s.chunks[i];
    return bytes;
}

std::wstring expected(const scenario& s, const std::vector<session_call>& calls, std::size_t k, bool informed,
                      const std::wstring& clean)
{
    const std::wstring session_error = informed ? session_failure() : internal_failure();
    switch (s.what) {
    case rule::session:
        return session_error;
    case rule::ending_write: {
        std::size_t last_write = 0;
        for (std::size_t i = 0; i < calls.size(); ++i)
            last_write = calls[i].op == session_op::write ? i : last_write;
        return k < last_write ? component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033)
                              : session_error;
    }
    case rule::block:
        return k > 0 && calls[k].op == session_op::read && calls[k - 1].op == session_op::put_timeout ? clean
                                                                                                          : outcome(E_UNEXPECTED) + L" 0";
    case rule::ignored:
        return clean;
    case rule::number: {
        const std::string bytes = delivered(s, k);
        return bytes.empty() ? no_number() + L" 0" : s.flush ? session_error + L" 0" : outcome(S_OK) + L" 5:" + std::wstring(bytes.begin(), bytes.end());
    }
    case rule::list: {
        const std::string bytes = delivered(s, k);
        const int item = static_cast<int>(std::ranges::count(bytes, ',')) + 1;
        if (s.code == VT_BSTR || (!bytes.empty() && bytes.back() != ','))
            return session_error; // with the items read so far in the result
        return (s.code == VT_VARIANT ? terminated() : item_failure(item, s.code == VT_R4 || s.code == VT_R8)) + L" 0";
    }
    }
    return {};
}

struct run_result {
    std::wstring text;
    std::vector<session_call> calls; // those of the method
};

// Runs the scenario on a fresh object; with `k`, the k-th call of the method fails.
run_result run(trial& t, const scenario& s, std::optional<std::size_t> k, const std::vector<session_call>& clean_calls,
               bool informed, bool send_end, bool termination)
{
    scripted_session session;
    session.set_send_end(send_end);
    session.set_termination_character(termination);
    IFormattedIO488* io = make_fmtdio().Detach();
    io->putref_IO(&session);
    s.setup(io, session);
    const std::size_t before = session.calls().size();
    if (k) {
        const session_op op = clean_calls[*k].op;
        const long long earlier = std::count_if(clean_calls.begin(), clean_calls.begin() + static_cast<long>(*k) + 1,
                                                [op](const session_call& c) { return c.op == op; });
        const bool trailing_byte = s.what == rule::block && *k > 0 && clean_calls[*k - 1].op == session_op::put_timeout;
        session.fail(op, session.count(op) + static_cast<int>(earlier), trailing_byte ? session_timeout : link_down,
                     informed ? std::optional<std::wstring>(L"link down") : std::nullopt);
    }
    clear_thread_error();
    run_result r{s.call(io), {session.calls().begin() + static_cast<long>(before), session.calls().end()}};
    // A put that sets a value back and fails leaves the setting as the failure left it.
    const session_call* failed = k ? &clean_calls[*k] : nullptr;
    const bool restoring = failed && ((failed->op == session_op::put_send_end && failed->count != 0) ||
                                      (failed->op == session_op::put_termination_character && failed->count != 0) ||
                                      (failed->op == session_op::put_timeout && failed->count != 100));
    t.expect(restoring || (session.send_end() == send_end && session.termination_character() == termination && session.timeout() == 2000),
             L"session settings changed by " + r.text);
    if (session.references() > 0) {
        expect_exchange(t, io, session);
        io->Release();
    }
    t.expect(session.references() == 0, L"session references kept after " + r.text);
    return r;
}

} // namespace

void session_faults(trial& t)
{
    const scenario s = make_scenario(t);
    const bool send_end = t.chance(70), termination = t.chance(70);
    const run_result clean = run(t, s, std::nullopt, {}, false, send_end, termination);
    for (std::size_t k = 0; k < clean.calls.size(); ++k) {
        for (const bool informed : {true, false}) {
            const std::wstring got = run(t, s, k, clean.calls, informed, send_end, termination).text;
            const std::wstring wanted = expected(s, clean.calls, k, informed, clean.text);
            t.expect_equal((got + L" ").substr(0, wanted.size() + 1), wanted + L" ",
                           (L"failure of call " + std::to_wstring(k + 1) + (informed ? L" with" : L" without") + L" error information").c_str());
        }
    }
}

} // namespace morvane::campaigns
