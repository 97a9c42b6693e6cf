#pragma once
// What the campaigns share: trials and the block count (runner.cpp), calls of the methods (calls.cpp).
#include <windows.h>
#include <atomic>
#include <deque>
#include <random>
#include "support/error_record.hpp"
#include "support/fmtdio_object.hpp"
#include "support/variant_values.hpp"

namespace morvane::campaigns {

using namespace morvane::testing;
using Microsoft::WRL::ComPtr;

// A trial: the random choices of its seed, what it made of them (shown in hex at its first failure), its failures.
struct trial {
    std::uint64_t seed;
    std::mt19937_64 random{seed};
    std::string input{};
    int failures = 0;

    long long between(long long low, long long high) { return std::uniform_int_distribution(low, high)(random); }
    bool chance(int percent) { return between(1, 100) <= percent; }
    template<typename T> T pick(std::initializer_list<T> choices)
    {
        return choices.begin()[between(0, std::ssize(choices) - 1)];
    }
    VARIANT_BOOL boolean() { return pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE}); }
    bool expect(bool ok, const std::wstring& what);
};

void responses(trial&t), faults(trial&t), arguments(trial&t), threads(trial&t), leaks(trial&t);

// Blocks alive of operator new and the task allocator, task blocks excused as the platform's, blocks made.
inline std::atomic<long long> live_new = 0, live_com = 0, excused = 0, made = 0;
// While counting, this thread's allocation that brings countdown to 0 fails and sets failed (not the session's).
inline thread_local long countdown = 0;
inline thread_local bool counting = false, failed = false;

template<typename Function> Function* entry(HMODULE module, const char* name)
{
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// clang-format off
enum class method { write_string, write_number, write_list, write_block, read_string, read_number, read_list,
                    read_block, set_buffer_size, flush, get_io, big_endian, put_io, final_release };
// clang-format on
inline constexpr std::initializer_list<VARTYPE> list_types = {VT_I2, VT_I4, VT_R4, VT_R8, VT_BSTR, VT_VARIANT, VT_UI1};
inline constexpr std::initializer_list<VARTYPE> number_types = {VT_I2, VT_I4, VT_R4, VT_R8, VT_UI1};

// The arguments of a call; a pointer argument that is not usable is `bad`.
struct call {
    method m;
    long code = 0, mask = 0; // NumberType (flush: FlushRead when odd), BufferMask
    LONG size = 0;
    VARIANT_BOOL flag = VARIANT_FALSE, seek = VARIANT_FALSE;
    BSTR text = nullptr, separator = nullptr;
    VARIANT* data = nullptr;
    unique_variant* output = nullptr;
    void* bad = nullptr;
    bool usable = true;
};

// What a call's arguments point into, kept until its checks are done.
struct argument_store {
    unique_variant output;
    std::deque<unique_variant> variants;
    std::deque<SAFEARRAY*> arrays; // referred to by VT_ARRAY | VT_BYREF, destroyed by a VARIANT
};

// A random call of any method but the final release, shown in t.input; the [in] arguments as bytes.
call random_call(trial& t, argument_store& store);
std::string snapshot(const argument_store& store);
// A bound object; a response for the method, then a line that a read leaves to be drained.
ComPtr<IFormattedIO488> bound(scripted_session& session);
void respond(scripted_session& session, method m);
// The call with its nth allocation failing (0: none): its outcome and output, which must be empty
// after a failure (a list keeps what it read, the client's to free) and well formed after a read.
std::wstring run_call(trial& t, const call& c, ComPtr<IFormattedIO488>& io, scripted_session& session, long nth = 0);
bool own_failure(const std::wstring& result, const std::vector<DWORD>& help_contexts);
std::pair<HRESULT, std::wstring> read_string(IFormattedIO488* io);
// After flushing both ways, a query goes out and its response comes back.
void expect_exchange(trial& t, IFormattedIO488* io, scripted_session& session);

} // namespace morvane::campaigns
