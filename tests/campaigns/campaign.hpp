#pragma once
// What the campaigns share: seeded trials that report a failing case with its seed and its
// input in hex, the program's allocation counters with failure injection, results as text,
// and the campaigns themselves, one trial each.
#include <windows.h>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include "support/error_record.hpp"
#include "support/fmtdio_object.hpp"

namespace morvane::campaigns {

using namespace morvane::testing;
using testing::status_count_reached;
using testing::status_end;
using testing::status_termination_character;
using testing::session_timeout;
template <typename T>
using com_ptr = Microsoft::WRL::ComPtr<T>;

class trial {
public:
    explicit trial(std::uint64_t seed) : seed_(seed), random_(seed) {}
    long long between(long long low, long long high)
    {
        return std::uniform_int_distribution<long long>(low, high)(random_);
    }
    bool chance(int percent) { return between(1, 100) <= percent; }
    template <typename T>
    T pick(std::initializer_list<T> choices)
    {
        return choices.begin()[between(0, static_cast<long long>(choices.size()) - 1)];
    }
    // A failed check prints the seed, the input and what differed; the result is `ok`.
    bool expect(bool ok, const std::wstring& what);
    bool expect_equal(const std::wstring& got, const std::wstring& wanted, const wchar_t* what)
    {
        return expect(got == wanted, std::wstring(what) + L"\n  got:    " + got + L"\n  wanted: " + wanted);
    }
    bool failed() const noexcept { return failures_ > 0; }

    std::string input; // the case's bytes, shown on failure

private:
    std::uint64_t seed_;
    std::mt19937_64 random_;
    int failures_ = 0;
};

// Allocations of this program, the component's included: blocks from operator new and from the
// COM task allocator (strings, safe arrays) that are live, and all blocks ever made.
struct allocation_counts {
    long long live_new;
    long long live_com;
    long long made;
};
allocation_counts allocations() noexcept;
// Task allocator blocks that the platform lost, left out of the live count from now on.
void excuse_task_blocks(long long count) noexcept;
// Checks that everything allocated since `before` was given back.
void expect_no_leak(trial& t, const allocation_counts& before);
// Makes the nth allocation of the calls made through armed() fail on this thread (1: the
// first); 0: none. The session's own allocations are spared. Whether that failure happened:
void fail_allocation(long nth) noexcept;
bool allocation_failed() noexcept;
void count_allocations_for_failure(bool on) noexcept;
template <typename Call>
auto armed(Call&& call)
{
    count_allocations_for_failure(true);
    const auto result = call();
    count_allocations_for_failure(false);
    return result;
}

// A VARIANT as text: its type, and the bounds and elements of an array, each element with its
// type; a value of the caller's type is compared through this.
std::wstring value_text(const VARIANT& value);
// A result that holds a one-dimensional array of `type` the way the component makes them:
// lower bound 0, the element type and size recorded in the array, the array not locked.
bool well_formed_array(const VARIANT& value, VARTYPE type);
inline VARIANT string_variant(BSTR text)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text;
    return value;
}
// What a call gave: its outcome, and on success the value.
std::wstring result_text(HRESULT hr, const VARIANT& value);

// The object still works after whatever came before: it drops unread input, then a query
// reaches the session whole and a response is read back whole.
void expect_exchange(trial& t, IFormattedIO488* io, scripted_session& session);

// An enumeration argument with any bits, as a client may pass it (never loaded as a value here).
template <typename Enum = NumberType>
Enum enum_bits(long bits)
{
    static_assert(sizeof(Enum) == sizeof(long));
    Enum value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
inline NumberType number_type(long code)
{
    return enum_bits(code);
}

// The campaigns, one trial each.
void malformed_responses(trial& t);
void session_faults(trial& t);
void arguments(trial& t);
void threads(trial& t);
void leaks(trial& t);

} // namespace morvane::campaigns
