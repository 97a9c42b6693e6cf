// Arguments: a random call, then again with each of its allocations failing in turn: S_OK or a
// failure that the method names, [in] arguments unchanged, the same result or a failure of memory.
// Leaks: a thousand random calls on one object, each after what those before it left pending.
#include "campaign.hpp"

namespace morvane::campaigns {
namespace {

// The failures that each method names beside a bad pointer: help contexts, and one without a record.
struct named_failures {
    std::vector<DWORD> help_contexts;
    HRESULT bare = S_OK;
};
const named_failures named[] = {
    // clang-format off
    {{1033}}, {{1017, 1026, 1027}}, {{1017, 1028, 1029, 1031, 1033, 1035}}, {{1025}, E_UNEXPECTED}, // the writes
    {}, {}, {{1028}}, {{1024}},                                                                        // the reads
    {{1036}, E_INVALIDARG}, {{1033}}, {}, {}, {}, // set_buffer_size, flush, get_io, big_endian, put_io
    // clang-format on
};
static_assert(std::size(named) == static_cast<int>(method::put_io) + 1);

} // namespace

void arguments(trial& t)
{
    argument_store store;
    const call c = random_call(t, store);
    const std::string before = snapshot(store);
    const named_failures& names = named[static_cast<int>(c.m)];
    std::wstring result;
    // On a new object each time, without failing allocations, then with the 1st, 2nd, ... failing.
    for (long nth = 0; nth < 2 || (failed && nth < 100); ++nth) {
        if (nth > 0 && c.m == method::write_number && (c.code & 0xFFFF) == VT_DATE)
            break; // under a failed allocation this platform's date parsing reads the string it could not make
        const long long task_blocks = live_com;
        scripted_session session;
        ComPtr<IFormattedIO488> io = bound(session);
        respond(session, c.m);
        const std::wstring got = run_call(t, c, io, session, nth);
        io.Reset();
        t.expect(snapshot(store) == before && session.references() == 0,
                 L"[in] arguments changed or session references kept: " + got);
        if (nth > 0) // the platform's copies may lose strings when an allocation fails: not the component's
            excused += live_com - task_blocks;
        const auto is = [&](HRESULT hr) { return got.starts_with(describe(hr, nullptr) + L" "); }; // without a record
        const auto is_code = [&](HRESULT hr) { return got.starts_with(std::to_wstring(hr) + L" "); };
        const bool named_failure = own_failure(got, names.help_contexts) || (names.bare && is(names.bare));
        const bool as_named = c.usable ? is(S_OK) || named_failure : is(E_POINTER);
        const bool of_memory =
            failed && (is_code(E_OUTOFMEMORY) || is_code(E_UNEXPECTED) || own_failure(got, {1017, 1034}));
        t.expect(nth == 0 ? as_named : got == result || of_memory,
                 L"allocation " + std::to_wstring(nth) + L" failing (0: none): " + got + L"\n  without: " + result);
        if (nth == 0)
            result = got;
    }
}

void leaks(trial& t)
{
    scripted_session session;
    ComPtr<IFormattedIO488> io = bound(session);
    for (int i = 0; i < 1000 && !t.failures; ++i) {
        argument_store store;
        const call c = random_call(t, store);
        respond(session, c.m);
        run_call(t, c, io, session);
        if (c.m == method::put_io)
            io->putref_IO(&session);
    }
    io.Reset();
    t.expect(session.references() == 0, L"session references kept");
}

} // namespace morvane::campaigns
