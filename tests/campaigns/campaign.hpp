#pragma once
// What the campaigns share: seeded trials that print their seed and input on failure, results
// as text, the check that an object still works, and allocations counted and made to fail.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <ranges>
#include "support/error_record.hpp"
#include "support/fmtdio_object.hpp"

namespace morvane::campaigns {

using namespace morvane::testing;
using testing::status_count_reached, testing::status_end, testing::status_termination_character, testing::session_timeout;
template <typename T>
using com_ptr = Microsoft::WRL::ComPtr<T>;

class trial {
public:
    explicit trial(std::uint64_t seed) : seed_(seed), random_(seed) {}
    long long between(long long low, long long high) { return std::uniform_int_distribution<long long>(low, high)(random_); }
    bool chance(int percent) { return between(1, 100) <= percent; }
    template <typename T>
    T pick(std::initializer_list<T> choices) { return choices.begin()[between(0, std::ssize(choices) - 1)]; }
    bool failed() const noexcept { return failures_ > 0; }
    // The first failure shows the seed and the input in hex.
    bool expect(bool ok, const std::wstring& what)
    {
        if (!ok && ++failures_ == 1)
            std::printf("seed %llu, input", static_cast<unsigned long long>(seed_)), std::ranges::for_each(input, [](unsigned char c) { std::printf(" %02X", c); });
        if (!ok)
            std::printf("\n  %ls", what.c_str());
        return ok;
    }
    std::string input;

private:
    std::uint64_t seed_;
    std::mt19937_64 random_;
    int failures_ = 0;
};

inline std::wstring wide(const std::string& bytes) { return {bytes.begin(), bytes.end()}; }

// A VARIANT as text: its type and value, or an array's bounds and elements; a call's result.
inline std::wstring value_text(const VARIANT& value)
{
    std::wstring text = std::to_wstring(V_VT(&value));
    unique_variant element;
    LONG lower = 1, upper = 0;
    if (V_VT(&value) & VT_ARRAY && SUCCEEDED(SafeArrayGetLBound(V_ARRAY(&value), 1, &lower)) && SUCCEEDED(SafeArrayGetUBound(V_ARRAY(&value), 1, &upper)))
        text += L"[" + std::to_wstring(lower) + L".." + std::to_wstring(upper) + L"]";
    for (LONG i = lower; i <= upper; ++i, element.clear()) {
        const VARTYPE type = V_VT(&value) & VT_TYPEMASK;
        if (SUCCEEDED(SafeArrayGetElement(V_ARRAY(&value), &i, type == VT_VARIANT ? static_cast<void*>(element.get()) : &element.get()->llVal)))
            V_VT(element.get()) = type == VT_VARIANT ? V_VT(element.get()) : type;
        text += L" " + value_text(*element);
    }
    if (!(V_VT(&value) & VT_ARRAY) && V_VT(&value) != VT_EMPTY && SUCCEEDED(VariantChangeTypeEx(element.get(), const_cast<VARIANT*>(&value), 1033, 0, VT_BSTR)))
        text += L":" + std::wstring(bstr_view(V_BSTR(element.get())));
    return text;
}
inline std::wstring result_text(HRESULT hr, const VARIANT& value) { return outcome(hr) + L" " + value_text(value); }

// A one-dimensional array as the component makes them: lower bound 0, unlocked, of its element type and size.
inline bool well_formed_array(const VARIANT& value, VARTYPE type)
{
    SAFEARRAY* array = V_VT(&value) == (VT_ARRAY | type) ? V_ARRAY(&value) : nullptr;
    const ULONG sizes[] = {0, 0, 2, 4, 4, 8, 0, 0, sizeof(BSTR), 0, 0, 0, sizeof(VARIANT), 0, 0, 0, 0, 1};
    VARTYPE own = VT_EMPTY;
    return array && SafeArrayGetDim(array) == 1 && array->cLocks == 0 && type < std::size(sizes) && array->cbElements == sizes[type] &&
           SUCCEEDED(SafeArrayGetVartype(array, &own)) && own == type && array->rgsabound[0].lLbound == 0;
}

// Whether an outcome is a failure with the component's own record and one of the help contexts.
inline bool own_failure(const std::wstring& outcome, const std::vector<DWORD>& help_contexts)
{
    return !outcome.starts_with(L"0 ") && std::ranges::any_of(help_contexts, [&](DWORD context) {
        return outcome.ends_with(component_failure(S_OK, L"", context).substr(3)); // from "] [source] ..."
    });
}

// The object still works: it drops what is pending, then a query goes out whole and a response comes back whole.
inline void expect_exchange(trial& t, IFormattedIO488* io, scripted_session& session)
{
    io->FlushWrite(VARIANT_FALSE), io->FlushRead(), session.clear_chunks(), session.respond("ok\n");
    const std::size_t writes = session.writes().size();
    BSTR response = nullptr;
    const HRESULT written = io->WriteString(bstr(L"*IDN?").get(), VARIANT_TRUE), read = io->ReadString(&response);
    const unique_bstr owned(response);
    std::string sent;
    for (const std::string& write : session.writes() | std::views::drop(writes))
        sent += write;
    t.expect(written == S_OK && sent == "*IDN?\n" && read == S_OK && bstr_view(response) == L"ok\n",
             L"the exchange after it: " + std::to_wstring(written) + L" " + wide(sent) + L" " + std::to_wstring(read));
}

// An enumeration argument with any bits: never held in a variable of its type, whose loads the
// checked build traps when out of range.
template <typename Enum = NumberType>
Enum enum_bits(long bits)
{
    Enum value;
    return std::memcpy(&value, &bits, sizeof value), value;
}

// Live blocks of operator new and of the task allocator (strings, safe arrays).
struct allocation_counts {
    long long live_new, live_com;
};
allocation_counts allocations() noexcept;
void excuse_task_blocks(long long count) noexcept; // lost by the platform: no longer live
// A call of the component whose nth allocation fails (0: none; the session's own are spared).
HRESULT with_failing_allocation(long nth, const std::function<HRESULT()>& call);
bool allocation_failed() noexcept; // in the last such call

void malformed_responses(trial& t);
void session_faults(trial& t);
void arguments(trial& t);
void threads(trial& t);
void leaks(trial& t);

} // namespace morvane::campaigns
