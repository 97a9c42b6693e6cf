// The campaign program: `campaigns NAME [ITERATIONS [SEED]]` runs the trials of one campaign,
// first those of the replay file (one line per defect found, "NAME SEED what it found"), then
// ITERATIONS trials seeded SEED, SEED + 1, ... A failing trial prints its seed, so that
// `campaigns NAME 1 SEED` runs it alone.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include "campaigns/campaign.hpp"
#include "error/error_values.hpp"

namespace morvane::campaigns {

bool trial::expect(bool ok, const std::wstring& what)
{
    if (ok)
        return true;
    if (++failures_ == 1) {
        std::string hex;
        for (const unsigned char byte : input)
            hex += "0123456789ABCDEF"[byte >> 4], hex += "0123456789ABCDEF"[byte & 15], hex += ' ';
        std::printf("seed %llu, input %s\n", static_cast<unsigned long long>(seed_), hex.c_str());
    }
    std::printf("  %ls\n", what.c_str());
    return false;
}

std::wstring value_text(const VARIANT& value)
{
    std::wstring text = std::to_wstring(V_VT(&value));
    if (V_VT(&value) & VT_ARRAY) {
        SAFEARRAY* array = V_ARRAY(&value);
        LONG lower = 1, upper = 0;
        SafeArrayGetLBound(array, 1, &lower);
        SafeArrayGetUBound(array, 1, &upper);
        text += L"[" + std::to_wstring(lower) + L".." + std::to_wstring(upper) + L"]";
        const VARTYPE type = V_VT(&value) & VT_TYPEMASK;
        for (LONG i = lower; i <= upper; ++i) {
            unique_variant element;
            if (type == VT_VARIANT) {
                SafeArrayGetElement(array, &i, element.get());
            } else if (SUCCEEDED(SafeArrayGetElement(array, &i, &element.get()->llVal))) {
                V_VT(element.get()) = type;
            }
            text += L" " + value_text(*element);
        }
        return text;
    }
    unique_variant as_text;
    if (V_VT(&value) != VT_EMPTY &&
        SUCCEEDED(VariantChangeTypeEx(as_text.get(), const_cast<VARIANT*>(&value), 1033, 0, VT_BSTR)))
        text += L":" + std::wstring(bstr_view(V_BSTR(as_text.get())));
    return text;
}

bool well_formed_array(const VARIANT& value, VARTYPE type)
{
    SAFEARRAY* array = V_VT(&value) == (VT_ARRAY | type) ? V_ARRAY(&value) : nullptr;
    const ULONG sizes[] = {0, 0, 2, 4, 4, 8, 0, 0, sizeof(BSTR), 0, 0, 0, sizeof(VARIANT), 0, 0, 0, 0, 1};
    VARTYPE own = VT_EMPTY;
    LONG lower = -1;
    return array && SafeArrayGetDim(array) == 1 && array->cLocks == 0 && type < std::size(sizes) &&
           array->cbElements == sizes[type] && SUCCEEDED(SafeArrayGetVartype(array, &own)) && own == type &&
           SUCCEEDED(SafeArrayGetLBound(array, 1, &lower)) && lower == 0;
}

std::wstring result_text(HRESULT hr, const VARIANT& value)
{
    return outcome(hr) + L" " + value_text(value);
}

void expect_exchange(trial& t, IFormattedIO488* io, scripted_session& session)
{
    io->FlushWrite(VARIANT_FALSE);
    io->FlushRead();
    session.clear_chunks();
    const std::size_t writes = session.writes().size();
    const HRESULT written = io->WriteString(bstr(L"*IDN?").get(), VARIANT_TRUE);
    std::string sent;
    for (std::size_t i = writes; i < session.writes().size(); ++i)
        sent += session.writes()[i];
    t.expect(written == S_OK && sent == "*IDN?\n", L"the query after it: " + outcome(written) + L" " + std::wstring(sent.begin(), sent.end()));
    session.respond("ok\n");
    BSTR response = nullptr;
    const HRESULT hr = io->ReadString(&response);
    const unique_bstr owned(response);
    t.expect(hr == S_OK && bstr_view(response) == L"ok\n", L"the response after it");
}

namespace {

struct campaign {
    const char* name;
    void (*run)(trial&);
    long iterations; // in CTest: a few seconds
};

const campaign campaigns[] = {
    {"responses", malformed_responses, 8000},
    {"faults", session_faults, 1500},
    {"arguments", arguments, 8000},
    {"threads", threads, 10},
    {"leaks", leaks, 100},
};

// The leak check of every trial counts from where the first one left off: what the component
// sets up once per process stays.
bool run_trial(const campaign& c, std::uint64_t seed, bool checked_for_leaks)
{
    trial t(seed);
    t.input.reserve(64); // its block is counted before the trial, whatever it grows to
    const allocation_counts before = allocations();
    c.run(t);
    clear_thread_error();
    if (checked_for_leaks)
        expect_no_leak(t, before);
    return !t.failed();
}

} // namespace

} // namespace morvane::campaigns

int main(int argc, char** argv)
{
    using namespace morvane::campaigns;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    morvane::initialize_error_values();
    const std::string name = argc > 1 ? argv[1] : "";
    const campaign* c = std::find_if(std::begin(campaigns), std::end(campaigns), [&](const campaign& each) { return name == each.name; });
    if (c == std::end(campaigns)) {
        std::printf("usage: campaigns responses|faults|arguments|threads|leaks [ITERATIONS [SEED]]\n");
        return 2;
    }
    const long iterations = argc > 2 ? std::atol(argv[2]) : c->iterations;
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 0) : 1;
    int passed = 0, failed = 0;
    run_trial(*c, seed ^ 0x5EEDull, false); // warms up what is set up once
    std::ifstream replay(CAMPAIGN_REPLAY);
    for (std::string line; std::getline(replay, line);) {
        std::istringstream fields(line);
        std::string campaign_name;
        std::uint64_t replayed = 0;
        if (fields >> campaign_name >> replayed && campaign_name == name)
            (run_trial(*c, replayed, true) ? passed : failed)++;
    }
    for (long i = 0; i < iterations && failed < 10; ++i)
        (run_trial(*c, seed + i, true) ? passed : failed)++;
    std::printf("campaign %s: %d passed, %d failed\n", c->name, passed, failed);
    CoUninitialize();
    return failed ? 1 : 0;
}
