// The robustness campaigns: `campaigns NAME [ITERATIONS [SEED]]` runs the trials of the replay file
// (lines "NAME SEED what it found"), then ITERATIONS trials seeded SEED, SEED + 1, ... A trial fails
// when it leaves a block allocated: operator new and delete are replaced for the whole program,
// and a spy watches the task allocator (strings and safe arrays, the string cache off).
#include <windows.h>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <deque>
#include <fstream>
#include <random>
#include <ranges>
#include <sstream>
#include <thread>
#include <tuple>
#include "platform/ansi.hpp"
#include "support/error_record.hpp"
#include "support/fmtdio_object.hpp"

namespace morvane::campaigns {
namespace {

using namespace morvane::testing;
using testing::status_count_reached, testing::status_end, testing::status_termination_character, testing::session_timeout;
using Microsoft::WRL::ComPtr;

struct trial {
    std::uint64_t seed;
    std::mt19937_64 random{seed};
    std::string input{};
    int failures = 0;

    long long between(long long low, long long high) { return std::uniform_int_distribution<long long>(low, high)(random); }
    bool chance(int percent) { return between(1, 100) <= percent; }
    template <typename T>
    T pick(std::initializer_list<T> choices) { return choices.begin()[between(0, std::ssize(choices) - 1)]; }
    bool expect(bool ok, const std::wstring& what)
    {
        if (!ok && ++failures == 1)
            std::printf("seed %llu, input", static_cast<unsigned long long>(seed)),
                std::ranges::for_each(input, [](unsigned char c) { std::printf(" %02X", c); });
        if (!ok)
            std::printf("\n  %ls", what.c_str());
        return ok;
    }
};

std::atomic<long long> live_new = 0, live_com = 0, excused = 0, made = 0;
thread_local long countdown = 0;
thread_local bool counting = false, failed = false, moved = false;

bool failing_now() noexcept
{
    return counting && countdown > 0 && scripted_session::calls_in_progress == 0 && --countdown == 0 && (failed = true);
}

struct malloc_spy final : IMallocSpy {
    STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = this, S_OK; } // asked for IMallocSpy alone
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return failing_now() ? 0 : size; } // 0 bytes: a failure
    STDMETHODIMP_(void*) PostAlloc(void* block) override { return live_com += !!block, made += !!block, block; }
    STDMETHODIMP_(void*) PreFree(void* block, BOOL spied) override { return live_com -= block && spied, block; }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** to, BOOL spied) override { return moved = block && spied, *to = block, size; }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override { return live_com += !!block - moved, made += block && !moved, block; }
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}
} spy;

// Registered before main, so that every task allocation is seen.
const bool spying = [] {
    reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryW(L"oleaut32.dll"), "SetOaNoCache")))();
    return SUCCEEDED(CoRegisterMallocSpy(&spy));
}();

std::wstring wide(const std::string& bytes) { return {bytes.begin(), bytes.end()}; }

// An enumeration argument with any bits, never held in a variable, whose loads the checked build traps.
template <typename Enum = NumberType>
Enum enum_bits(long bits)
{
    Enum value;
    return std::memcpy(&value, &bits, sizeof value), value;
}

// A VARIANT as text: its type and value, or an array's bounds and elements; a call's result.
std::wstring value_text(const VARIANT& value)
{
    std::wstring text = std::to_wstring(V_VT(&value));
    unique_variant element;
    LONG lower = 1, upper = 0;
    SAFEARRAY* array = V_VT(&value) & VT_ARRAY ? V_ARRAY(&value) : nullptr;
    if (array && SUCCEEDED(SafeArrayGetLBound(array, 1, &lower)) && SUCCEEDED(SafeArrayGetUBound(array, 1, &upper)))
        text += L"[" + std::to_wstring(lower) + L".." + std::to_wstring(upper) + L"]";
    for (LONG i = lower; i <= upper; ++i, element.clear()) {
        const VARTYPE type = V_VT(&value) & VT_TYPEMASK;
        if (SUCCEEDED(SafeArrayGetElement(array, &i, type == VT_VARIANT ? static_cast<void*>(element.get()) : &element.get()->llVal)))
            V_VT(element.get()) = type == VT_VARIANT ? V_VT(element.get()) : type;
        text += L" " + value_text(*element);
    }
    if (!array && V_VT(&value) != VT_EMPTY && SUCCEEDED(VariantChangeTypeEx(element.get(), const_cast<VARIANT*>(&value), 1033, 0, VT_BSTR)))
        text += L":" + std::wstring(bstr_view(V_BSTR(element.get())));
    return text;
}

// A one-dimensional array as the component makes them: lower bound 0, unlocked, of its element type and size.
bool well_formed_array(const VARIANT& value, VARTYPE type)
{
    SAFEARRAY* array = V_VT(&value) == (VT_ARRAY | type) ? V_ARRAY(&value) : nullptr;
    const ULONG sizes[] = {0, 0, 2, 4, 4, 8, 0, 0, sizeof(BSTR), 0, 0, 0, sizeof(VARIANT), 0, 0, 0, 0, 1};
    VARTYPE own = VT_EMPTY;
    return array && SafeArrayGetDim(array) == 1 && array->cLocks == 0 && type < std::size(sizes) && array->cbElements == sizes[type] &&
           SUCCEEDED(SafeArrayGetVartype(array, &own)) && own == type && array->rgsabound[0].lLbound == 0;
}

bool own_failure(const std::wstring& result, const std::vector<DWORD>& help_contexts)
{
    return !result.starts_with(L"0 ") && std::ranges::any_of(help_contexts, [&](DWORD context) {
        return result.find(component_failure(S_OK, L"", context).substr(3) + L" ") != std::wstring::npos; // from "] [source] ..."
    });
}

// The object still works: after flushing both ways, a query goes out and a response comes back.
void expect_exchange(trial& t, IFormattedIO488* io, scripted_session& session)
{
    io->FlushWrite(VARIANT_FALSE), io->FlushRead(), session.clear_chunks(), session.respond("ok\n");
    BSTR response = nullptr;
    const HRESULT written = io->WriteString(bstr(L"*IDN?").get(), VARIANT_TRUE), read = io->ReadString(&response);
    const unique_bstr owned(response);
    t.expect(written == S_OK && read == S_OK && bstr_view(response) == L"ok\n",
             L"no exchange after it: " + std::to_wstring(written) + L" " + std::to_wstring(read));
}

// Arguments: a call of a random method with random arguments, then again with each of its
// allocations failing in turn: S_OK or a failure that the method names, [in] arguments unchanged,
// the same result or a failure of memory when an allocation fails.
struct argument_store { // what the arguments of one call point into, kept until its checks are done
    unique_variant output;
    std::deque<unique_variant> variants;
    std::deque<SAFEARRAY*> arrays; // referred to by VT_ARRAY | VT_BYREF
};

std::wstring text(trial& t)
{
    std::wstring text(static_cast<std::size_t>(t.between(0, 6)), L' ');
    for (wchar_t& c : text)
        c = t.pick<wchar_t>({L'1', L'2', L'.', L'-', L'e', L',', L';', L'a', L' ', L'\0', L'\x20AC', L'\x4E2D', L'\xE9'});
    return text;
}

ULONG cells(const SAFEARRAY* array)
{
    ULONG count = array != nullptr;
    for (USHORT i = 0; array && i < array->cDims; ++i)
        count *= array->rgsabound[i].cElements;
    return count;
}

void scalar(trial& t, VARIANT& value, VARTYPE type)
{
    V_VT(&value) = VT_R8, V_R8(&value) = static_cast<double>(t.between(LLONG_MIN, LLONG_MAX) >> t.between(0, 63)) / t.pick({1., 8., 1e3});
    if (type == VT_BSTR && t.chance(50))
        V_VT(&value) = VT_BSTR, V_BSTR(&value) = bstr(text(t)).release();
    if (FAILED(VariantChangeTypeEx(&value, &value, 1033, 0, type)))
        VariantInit(&value), V_VT(&value) = type;
}

VARIANT& variant(trial& t, argument_store& store)
{
    VARIANT& value = *store.variants.emplace_back().get();
    const VARTYPE type = t.pick<VARTYPE>({VT_I2, VT_I4, VT_R4, VT_R8, VT_UI1, VT_BSTR, VT_VARIANT, VT_CY, VT_DATE, VT_BOOL, VT_DECIMAL, VT_I1,
                                          VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT, VT_ERROR, VT_EMPTY, VT_NULL, VT_DISPATCH, VT_UNKNOWN});
    if (t.chance(40) && type > VT_NULL && type != VT_DISPATCH && type != VT_UNKNOWN) {
        SAFEARRAYBOUND bounds[3];
        const UINT dimensions = t.chance(85) ? 1 : static_cast<UINT>(t.between(2, 3));
        for (UINT i = 0; i < dimensions; ++i)
            bounds[i] = {static_cast<ULONG>(t.between(0, 5)), t.pick<LONG>({0, 1, -3, LONG_MAX - 2, LONG_MAX, LONG_MIN})};
        SAFEARRAY* array = t.chance(3) ? nullptr : SafeArrayCreate(type, dimensions, bounds);
        for (ULONG i = 0; i < cells(array); ++i) { // each element's value, or the DECIMAL that fills its VARIANT
            VARIANT element;
            scalar(t, element, type == VT_VARIANT ? t.pick<VARTYPE>({VT_I4, VT_R8, VT_BSTR, VT_ERROR, VT_EMPTY}) : type);
            std::memcpy(static_cast<char*>(array->pvData) + i * array->cbElements,
                        type == VT_VARIANT || type == VT_DECIMAL ? static_cast<void*>(&element) : &element.llVal, array->cbElements);
        }
        V_VT(&value) = VT_ARRAY | type, V_ARRAY(&value) = array;
        if (t.chance(20)) // another VARIANT destroys the array
            *store.variants.emplace_back().get() = value, V_VT(&value) |= VT_BYREF, V_ARRAYREF(&value) = &store.arrays.emplace_back(array);
        return value;
    }
    VARIANT& target = t.chance(80) || type <= VT_NULL ? value : *store.variants.emplace_back().get();
    scalar(t, target, type == VT_VARIANT ? VARTYPE(VT_I4) : type);
    const bool to_variant = type == VT_VARIANT || t.chance(20);
    if (&target != &value) // a DECIMAL fills its VARIANT
        V_VT(&value) = VT_BYREF | (to_variant ? VARTYPE(VT_VARIANT) : type),
        V_BYREF(&value) = to_variant || type == VT_DECIMAL ? static_cast<void*>(&target) : &target.llVal;
    return value;
}

// The [in] arguments as bytes.
std::string snapshot(const argument_store& store)
{
    std::string bytes;
    const auto add = [&](const void* data, std::size_t size) { bytes.append(static_cast<const char*>(data), size); };
    for (const unique_variant& each : store.variants) {
        const VARIANT& value = *each;
        add(&value, sizeof value);
        if (V_VT(&value) == VT_BSTR && V_BSTR(&value))
            add(V_BSTR(&value), SysStringByteLen(V_BSTR(&value)));
        if (V_VT(&value) & VT_ARRAY && !(V_VT(&value) & VT_BYREF) && V_ARRAY(&value))
            add(V_ARRAY(&value), sizeof(SAFEARRAY)), add(V_ARRAY(&value)->pvData, cells(V_ARRAY(&value)) * V_ARRAY(&value)->cbElements);
    }
    return bytes;
}

// The arguments of a call of method 0 to 12 below; a pointer argument not usable is `bad`.
struct call {
    int method;
    long code, mask; // NumberType, BufferMask
    LONG size;
    VARIANT_BOOL flag, seek;
    BSTR text, separator;
    VARIANT *data, *output;
    void* bad;
    bool usable;
};

HRESULT invoke(const call& c, IFormattedIO488* io, scripted_session& session)
{
    const auto pointer = [&c](auto* usable) { return c.usable ? usable : static_cast<decltype(usable)>(c.bad); };
    switch (c.method) {
    case 0: return io->WriteString(c.text, c.flag);
    case 1: return io->WriteNumber(*c.data, enum_bits(c.code), c.flag);
    case 2: return io->WriteList(pointer(c.data), enum_bits(c.code), c.separator, c.flag);
    case 3: return io->WriteIEEEBlock(c.text, *c.data, c.flag);
    case 4: return io->ReadString(pointer(&c.output->bstrVal));
    case 5: return io->ReadNumber(enum_bits(c.code), c.flag, pointer(c.output));
    case 6: return io->ReadList(enum_bits(c.code), c.separator, pointer(c.output));
    case 7: return io->ReadIEEEBlock(enum_bits(c.code), c.seek, c.flag, pointer(c.output));
    case 8: return io->SetBufferSize(enum_bits<BufferMask>(c.mask), c.size);
    case 9: return c.code % 2 ? io->FlushRead() : io->FlushWrite(c.flag);
    case 10: return io->get_IO(pointer(reinterpret_cast<IMessage**>(&c.output->punkVal)));
    case 11: return io->put_InstrumentBigEndian(c.flag), io->get_InstrumentBigEndian(pointer(&c.output->boolVal));
    default: return io->putref_IO(c.usable && c.bad ? &session : static_cast<IMessage*>(c.bad)); // null unbinds
    }
}

call generate(trial& t, argument_store& store)
{
    static const guarded_bytes unusable(1);
    const auto string = [&](bool separator) { // null, text, or one character as a separator is
        VARIANT& held = *store.variants.emplace_back().get();
        const std::wstring chars = separator && t.chance(60) ? std::wstring(1, t.pick<wchar_t>({L',', L';', L'\x20AC'})) : text(t);
        V_VT(&held) = VT_BSTR, V_BSTR(&held) = bstr(chars).release();
        return t.chance(10) ? nullptr : V_BSTR(&held);
    };
    call c{static_cast<int>(t.between(0, 12)),
           t.chance(50) ? t.pick<long>({2, 3, 4, 5, 8, 12, 17}) : t.chance(95) ? static_cast<long>(t.between(-5, 300)) : 65541,
           t.pick<long>({0x10, 0x20, 0x30, 0x40, 0, -1}), t.pick<LONG>({-5, 0, 1, 7, 1000, 1 << 20}),
           t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE, 1, 2}), t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE, 1}), string(false),
           string(true), &variant(t, store), store.output.get(), t.chance(50) ? nullptr : unusable.data(), t.chance(80)};
    // WriteString's text is its pointer; WriteNumber, WriteIEEEBlock, SetBufferSize and the flushes have none.
    c.usable = c.method == 0    ? c.text != nullptr
               : c.method == 12 ? c.usable || !c.bad
                                : c.usable || c.method == 1 || c.method == 3 || c.method == 8 || c.method == 9;
    t.input = std::to_string(c.method) + ":" + snapshot(store);
    return c;
}

// A response for the method, and a line after it that a read leaves to be drained.
void respond(scripted_session& session, int method)
{
    const std::string response = method == 5 ? "1.5\n" : method == 6 ? "7\n" : std::string("#14\x00\x01\xFF\xFE\n", 9);
    session.respond(response + "9\n", {response.size()});
}

// A call through invoke() (13: the final release) with its nth allocation failing (0: none; the
// session's own are spared): its outcome and output, which must be empty after a failure (a list
// keeps what it read, the client's to free) and well formed after a read; the output is freed.
std::wstring run_call(trial& t, const call& c, IFormattedIO488* io, scripted_session& session, long nth = 0)
{
    VARIANT& out = *c.output;
    V_VT(&out) = VT_EMPTY, V_UNKNOWN(&out) = nullptr;
    clear_thread_error();
    countdown = nth, failed = false, counting = true;
    const HRESULT hr = c.method == 13 ? (io->Release(), S_OK) : invoke(c, io, session);
    counting = false;
    if (c.usable && (c.method == 4 || c.method == 10) && V_UNKNOWN(&out))
        V_VT(&out) = c.method == 4 ? VT_BSTR : VT_UNKNOWN;
    const VARTYPE type = V_VT(&out), wanted = static_cast<VARTYPE>(c.code);
    const std::wstring result = outcome(hr) + L" " + value_text(out);
    t.expect(!c.usable || (FAILED(hr) ? type == VT_EMPTY || (c.method == 6 && type & VT_ARRAY)
                           : c.method == 5 ? type == VT_R8
                           : c.method < 6 || c.method > 7 || well_formed_array(out, wanted) || (c.method == 7 && type == VT_EMPTY)),
             L"a malformed output after " + result);
    VariantClear(&out);
    return result;
}

void arguments(trial& t)
{
    // The failures that each method names beside a bad pointer: help contexts, and one without a record.
    static const std::pair<std::vector<DWORD>, HRESULT> named[] = {
        {{1033}, S_OK}, {{1017, 1026, 1027}, S_OK}, {{1017, 1028, 1029, 1031, 1033, 1035}, S_OK}, {{1025}, E_UNEXPECTED}, {}, {},
        {{1028}, S_OK}, {{1024}, S_OK}, {{1036}, E_INVALIDARG}, {{1033}, S_OK}, {}, {}, {}};
    argument_store store;
    const call c = generate(t, store);
    const std::string before = snapshot(store);
    const auto& [help_contexts, bare] = named[c.method];
    std::wstring result;
    // On a new object each time, without failing allocations, then with the 1st, 2nd, ... failing.
    for (long nth = 0; nth < 2 || (failed && nth < 100); ++nth) {
        if (nth > 0 && c.method == 1 && (c.code & 0xFFFF) == VT_DATE)
            break; // under a failed allocation this platform's date parsing reads the string it could not make
        const long long task_blocks = live_com;
        scripted_session session;
        IFormattedIO488* io = make_fmtdio().Detach();
        io->putref_IO(&session);
        respond(session, c.method);
        const std::wstring got = run_call(t, c, io, session, nth);
        io->Release();
        t.expect(snapshot(store) == before && session.references() == 0, L"[in] arguments changed or session references kept: " + got);
        if (nth > 0) // the platform's copies may lose strings when an allocation fails: not the component's
            excused += live_com - task_blocks;
        const auto is = [&](HRESULT hr) { return got.starts_with(describe(hr, nullptr) + L" "); }; // without a record
        const bool as_named = c.usable ? is(S_OK) || own_failure(got, help_contexts) || (bare && is(bare)) : is(E_POINTER);
        const bool of_memory = failed && (got.starts_with(std::to_wstring(E_OUTOFMEMORY) + L" ") ||
                                          got.starts_with(std::to_wstring(E_UNEXPECTED) + L" ") || own_failure(got, {1017, 1034}));
        t.expect(nth == 0 ? as_named : got == result || of_memory,
                 L"allocation " + std::to_wstring(nth) + L" failing (0: none): " + got + L"\n  without: " + result);
        result = nth == 0 ? got : result;
    }
}

// Leaks: a thousand random calls on one object, each after what those before it left pending.
void leaks(trial& t)
{
    scripted_session session;
    ComPtr<IFormattedIO488> io = make_fmtdio();
    io->putref_IO(&session);
    for (int i = 0; i < 1000 && !t.failures; ++i) { // what a call leaves unread, a later one reads or drains
        argument_store store;
        const call c = generate(t, store);
        respond(session, c.method);
        run_call(t, c, io.Get(), session);
        if (c.method == 12)
            io->putref_IO(&session);
    }
    io.Reset();
    t.expect(session.references() == 0, L"session references kept");
}

// Malformed responses, read whole and in random chunks with random statuses and buffer size, from
// arrays before a page with no access: the same result and rest either way, failures that reads
// name, well-formed results, and an object that still works.
enum read_kind { string_read = 4, number_read, list_read, block_read }; // invoke()'s numbering

// A valid response: a block, or items that every type holds in the forms they may take.
void valid_response(trial& t, read_kind kind, VARTYPE type, const std::string& separators, bool seek, std::string& bytes)
{
    const std::size_t size = type == VT_UI1 ? 1 : type == VT_I2 ? 2 : type == VT_R8 ? 8 : 4;
    const long count = static_cast<long>(kind == block_read ? t.between(0, 12) : kind == list_read ? t.between(1, 6) : 1);
    for (long skipped = kind == block_read && seek ? static_cast<long>(t.between(0, 4)) : 0; skipped > 0; --skipped)
        bytes += t.pick({'1', ',', '\n', ' '});
    bytes += kind == block_read ? "#" + std::to_string(std::to_string(count * size).size()) + std::to_string(count * size) : "";
    for (std::size_t i = 0; kind == block_read && i < count * size; ++i)
        bytes += static_cast<char>(t.between(0, 255));
    for (long i = 0; kind != block_read && i < count; ++i) {
        const long n = static_cast<long>(t.between(0, 1020));
        bytes += i ? std::string(1, separators[t.between(0, std::ssize(separators) - 1)]) : "";
        bytes += type == VT_I2 || type == VT_I4 || type == VT_UI1 || t.chance(40) ? t.pick<std::string>({"", " ", "+"}) + std::to_string(n / 4)
                 : t.chance(50) ? std::to_string(n / 4) + "." + std::to_string(n % 4 * 25) : std::to_string(n * 25) + "e-2";
    }
    bytes += kind == number_read ? t.pick<std::string>({"", "\n", ",7\n", " V\n"}) : t.pick<std::string>({"", "\n", "\n9\n"});
}

void malformed_responses(trial& t)
{
    const read_kind kind = t.pick({string_read, number_read, list_read, block_read});
    const VARTYPE type = kind == list_read ? t.pick<VARTYPE>({2, 3, 4, 5, 8, 12, 17}) : t.pick<VARTYPE>({2, 3, 4, 5, 17});
    const unique_bstr separators = bstr(t.pick<std::wstring>({L"", L",", L";", L";:", L",;"}));
    const std::string separator_bytes = SysStringLen(separators.get()) ? to_ansi(bstr_view(separators.get())) : ",;";
    unique_variant value;
    const call read{kind, type, 0, 0, t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE}), t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE}),
                    nullptr, separators.get(), nullptr, value.get(), nullptr, true};
    std::string& bytes = t.input;
    valid_response(t, kind, type, separator_bytes, read.seek, bytes);
    if (t.chance(10))
        bytes.resize(static_cast<std::size_t>(t.between(0, 300))), std::ranges::generate(bytes, [&] { return static_cast<char>(t.between(0, 255)); });
    for (long n = t.chance(70) ? static_cast<long>(t.between(1, 4)) : 0; n > 0; --n) { // mutations
        const std::size_t at = static_cast<std::size_t>(t.between(0, std::ssize(bytes)));
        const char byte = t.chance(50) ? static_cast<char>(t.between(0, 255)) : t.pick({'\n', '\r', '#', ',', ';', ' ', '\0', '-', '.', 'e', '9'});
        switch (at < bytes.size() ? t.between(0, 4) : 1) {
        case 0: bytes[at] ^= static_cast<char>(1 << t.between(0, 7)); break;
        case 1: bytes.insert(at, 1, byte); break;
        case 2: bytes.erase(at, 1); break;
        case 3: bytes.resize(at); break;
        default: bytes.insert(at, static_cast<std::size_t>(t.between(90, 110)), byte); // a token buffer's worth
        }
    }
    // A block's Read counts are filled across chunks, as a session over an instrument fills them.
    std::wstring results[2];
    for (const bool chunked : {false, true}) {
        scripted_session session;
        session.guard_reads(true), session.join_chunks(kind == block_read);
        ComPtr<IFormattedIO488> io = make_fmtdio();
        io->putref_IO(&session), io->SetBufferSize(BufferMask_Input, chunked ? t.pick<long>({1, 2, 3, 7, 16, 64, 1000}) : 1000);
        std::string_view rest = bytes;
        for (std::size_t n; chunked && rest.size() > 1 && t.chance(85); rest.remove_prefix(n)) {
            n = static_cast<std::size_t>(t.between(1, std::min<long long>(std::ssize(rest) - 1, 64)));
            const bool other_status = (kind != list_read || type == VT_BSTR) && t.chance(30); // a list ends at any other status
            session.add_chunk(std::string(rest.substr(0, n)), other_status ? 0x3FFF0005 : status_count_reached);
        }
        session.add_chunk(std::string(rest), t.pick({status_end, status_termination_character}));
        results[chunked] = run_call(t, read, io.Get(), session) + L" | ";
        BSTR after = nullptr;
        results[chunked] += outcome(io->ReadString(&after)) + L" ";
        results[chunked] += bstr_view(unique_bstr(after).get());
        if (chunked)
            expect_exchange(t, io.Get(), session);
    }
    t.expect(results[1] == results[0], L"chunked and whole differ:\n  " + results[1] + L"\n  " + results[0]);
    const std::wstring& result = results[0];
    t.expect(result.starts_with(outcome(S_OK) + L" ") || own_failure(result, {1019, 1020, 1024, 1034, 1049}) ||
                 (kind == block_read && (result.starts_with(outcome(E_UNEXPECTED) + L" 0 ") ||
                                         result.starts_with(session_failure(session_timed_out, E_UNEXPECTED) + L" 0 "))),
             L"a failure that reads do not name: " + result);
}

// Session faults: a scenario of one method (13: the final release) runs, which gives its session
// calls, then again failing each call, with and without error information: expected()'s result,
// the session's settings as they were, no reference kept, the object working.
struct scenario {
    call c;
    bool send_end, termination;
    long size;
    std::string text;
    std::vector<std::string> chunks; // the response
};

// What each method gives when its session call k fails: one table for all methods.
std::wstring expected(const scenario& s, const std::vector<session_call>& calls, std::size_t k, bool informed, const std::wstring& clean)
{
    const std::wstring session_error = informed ? session_failure() : internal_failure();
    std::string read; // what the reads before call k took (they come in pairs with their status)
    for (std::size_t i = 0; i < k / 2 && i < s.chunks.size(); ++i)
        read += s.chunks[i];
    const bool write_after = std::any_of(calls.begin() + static_cast<long>(k) + 1, calls.end(),
                                         [](const session_call& c) { return c.op == session_op::write; });
    const long type = s.c.code;
    switch (s.c.method) {
    case 0: case 1: case 3: // a string, number or block: a failure before the final write leaves nothing to end
        return !s.c.flag || !write_after ? session_error
                                         : component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033);
    case 5: // a number: none, or the number unless the flush failed
        return read.empty() ? no_number() + L" 0" : s.c.flag ? session_error + L" 0" : outcome(S_OK) + L" 5:" + wide(read);
    case 6: // a list: a string list or a whole item ends with the failure, a cut item is its own
        if (type == VT_BSTR || (!read.empty() && read.back() != ','))
            return session_error;
        return (type == VT_VARIANT ? terminated() : item_failure(int(std::ranges::count(read, ',')) + 1, type == VT_R4 || type == VT_R8)) + L" 0";
    case 7: // a block: the byte after the data may time out
        // else the failure without a record of the component's: the session's stays
        if (k > 0 && calls[k].op == session_op::read && calls[k - 1].op == session_op::put_timeout)
            return clean;
        return (informed ? session_failure(L"link down", E_UNEXPECTED) : outcome(E_UNEXPECTED)) + L" 0";
    case 12: case 13: return clean; // rebinding and the final release ignore what their buffers meet
    default: return session_error;
    }
}

std::wstring run_scenario(trial& t, const scenario& s, std::vector<session_call>& clean, std::size_t k = 0, bool informed = false)
{
    scripted_session session;
    session.set_send_end(s.send_end ? VARIANT_TRUE : VARIANT_FALSE), session.set_termination_character(s.termination);
    IFormattedIO488* io = make_fmtdio().Detach();
    io->putref_IO(&session);
    // What the method works on: output pending, a message half read, a response.
    const int m = s.c.method;
    io->SetBufferSize(m == 4 ? BufferMask_Input : BufferMask_Output, s.size);
    if (m >= 8)
        session.add_chunk("abc", status_count_reached), session.add_chunk("", status_count_reached); // ends a read, not the message
    for (std::size_t i = 0; i < s.chunks.size(); ++i)
        session.add_chunk(s.chunks[i], i + 1 < s.chunks.size() ? status_count_reached : status_end);
    BSTR part = nullptr;
    if (m >= 8)
        io->ReadString(&part), SysFreeString(part);
    if ((m >= 1 && m <= 3) || m >= 8)
        io->WriteString(bstr(wide(s.text)).get(), VARIANT_FALSE);
    const std::size_t before = session.calls().size();
    const session_call* failing = clean.empty() ? nullptr : &clean[k];
    if (failing) {
        const long earlier = std::ranges::count(clean.begin(), clean.begin() + static_cast<long>(k) + 1, failing->op, &session_call::op);
        const bool trailing_byte = m == 7 && k > 0 && clean[k - 1].op == session_op::put_timeout;
        session.fail(failing->op, session.count(failing->op) + static_cast<int>(earlier), trailing_byte ? session_timeout : link_down,
                     informed ? std::optional<std::wstring>(L"link down") : std::nullopt);
    }
    const std::wstring result = run_call(t, s.c, io, session);
    if (!failing)
        clean.assign(session.calls().begin() + static_cast<long>(before), session.calls().end());
    // A put that sets a value back and fails leaves the setting as the failure left it.
    const bool restoring = failing && failing->count != (failing->op == session_op::put_timeout ? 100 : 0) &&
                           (failing->op == session_op::put_send_end || failing->op == session_op::put_termination_character ||
                            failing->op == session_op::put_timeout);
    t.expect(restoring || (session.send_end() == s.send_end && session.termination_character() == s.termination && session.timeout() == 2000),
             L"session settings changed by " + result);
    if (session.references() > 0)
        expect_exchange(t, io, session), io->Release();
    t.expect(session.references() == 0, L"session references kept after " + result);
    return result;
}

void session_faults(trial& t)
{
    argument_store store;
    std::string text(static_cast<std::size_t>(t.between(1, 40)), ' ');
    std::ranges::generate(text, [&] { return static_cast<char>(t.between('a', 'z')); });
    const int method = t.pick({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13});
    VARIANT& data = *store.variants.emplace_back().get(); // a number, or bytes
    V_VT(&data) = method == 1 ? VT_R8 : VT_ARRAY | VT_UI1;
    V_ARRAY(&data) = method == 1 ? nullptr : SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(text.size()));
    const unique_bstr written = bstr(wide(text)), comma = bstr(L",");
    scenario s{{method, method == 6 ? t.pick<long>({2, 3, 4, 5, 8, 12, 17}) : method == 7 ? t.pick<long>({2, 3, 4, 5, 17}) : t.pick<long>({0, 1}),
                t.pick<long>({BufferMask_Input, BufferMask_Output}), 7, t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE}),
                t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE}),
                written.get(), comma.get(), &data, store.output.get(), &data, true}, // a pointer that is usable: IO put rebinds
               t.chance(70), t.chance(70), t.pick<long>({3, 10, 1000}), text, {}};
    std::string response = method == 5 ? std::to_string(t.between(1, 999999)) : method == 6 ? std::to_string(t.between(1, 255)) : text;
    for (long n = method == 6 ? static_cast<long>(t.between(0, 3)) : 0; n > 0; --n)
        response += "," + std::to_string(t.between(1, 255));
    if (method == 7) // after bytes to seek past, or none, a block of 8 bytes
        s.chunks = {(s.c.seek ? "12#18" : "#18") + text.substr(0, 1) + "1234567" + (t.chance(50) ? "\n" : "")};
    for (std::size_t at = 0; method != 7 && at <= response.size(); at += s.chunks.back().size())
        s.chunks.push_back((response + "\n").substr(at, static_cast<std::size_t>(t.between(1, 4))));
    t.input = text + " " + response;
    std::vector<session_call> calls;
    const std::wstring clean = run_scenario(t, s, calls);
    for (std::size_t k = 0; k < calls.size() * 2; ++k) {
        const std::wstring got = run_scenario(t, s, calls, k / 2, k % 2), wanted = expected(s, calls, k / 2, k % 2, clean);
        t.expect((got + L" ").starts_with(wanted + L" "), L"call " + std::to_wstring(k / 2 + 1) + L" failing " + (k % 2 ? L"with" : L"without") +
                                                              L" error information\n  got:    " + got + L"\n  wanted: " + wanted);
    }
}

// Threads: eight share one object, then use eight, writing tagged messages that the session echoes
// (so that one mixed at the session comes back mixed) and reading responses: each response whole,
// never two session calls at once. Then eight create and release objects of the shipped module.
std::string message(int thread, int i) // its tag, then letters to a length that spans chunks
{
    const std::string tag = "T" + std::to_string(thread) + ":" + std::to_string(i) + ":";
    return tag + std::string((thread * 977 + i * 131) % 2600, char('a' + (thread + i) % 26)) + "\n";
}

template <typename Body>
void on_threads(trial& t, Body&& body)
{
    std::wstring failures[8];
    for (std::vector<std::jthread> threads; threads.size() < 8;)
        threads.emplace_back([&, thread = static_cast<int>(threads.size())] { body(thread, failures[thread]); });
    for (const std::wstring& failure : failures)
        t.expect(failure.empty(), failure);
}

// Forty messages through an object whose session answers each message with the message itself.
void exchange_messages(IFormattedIO488* io, int thread, std::wstring& failure)
{
    for (int i = 0; i < 40; ++i) {
        const std::string sent = message(thread, i);
        BSTR response = nullptr;
        const HRESULT written = io->WriteString(bstr(wide(sent.substr(0, sent.size() - 1))).get(), VARIANT_TRUE), read = io->ReadString(&response);
        const std::wstring text(bstr_view(unique_bstr(response).get()));
        int from = -1, index = -1;
        if (written != S_OK || read != S_OK || std::swscanf(text.c_str(), L"T%d:%d:", &from, &index) != 2 || from < 0 || from > 7 || index < 0 ||
            index > 39 || text != wide(message(from, index)))
            failure += L"after " + wide(sent.substr(0, 8)) + L" a response " + text.substr(0, 8) + L"\n";
    }
}

void threads(trial& t)
{
    const auto echo = [](scripted_session& session) {
        session.on_call([&session, pending = std::string()](const session_call& call) mutable {
            pending += call.op == session_op::write ? call.bytes : "";
            if (call.op == session_op::write && call.send_end)
                session.add_chunk(std::exchange(pending, {}), status_end);
        });
        return &session;
    };
    scripted_session shared_session;
    ComPtr<IFormattedIO488> shared = make_fmtdio();
    shared->putref_IO(echo(shared_session));
    for (const bool own : {false, true})
        on_threads(t, [&](int thread, std::wstring& failure) {
            scripted_session session;
            ComPtr<IFormattedIO488> object = own ? make_fmtdio() : shared;
            if (own)
                object->putref_IO(echo(session));
            exchange_messages(object.Get(), thread, failure);
        });
    t.expect(shared_session.overlaps() == 0, L"the session saw calls at once: " + std::to_wstring(shared_session.overlaps()));
    static const HMODULE module = [] {
        wchar_t path[MAX_PATH];
        const std::wstring name(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        return LoadLibraryW((name.substr(0, name.find_last_of(L'\\')) + L"\\" MORVANE_BIN_FROM_TESTS L"\\Morvane.dll").c_str());
    }();
    const auto entry = [](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(module, name)); };
    const auto get_class_object = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(entry("DllGetClassObject"));
    const auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(entry("DllCanUnloadNow"));
    on_threads(t, [&](int, std::wstring& failure) {
        const CLSID fmtdio = {0xdb8cbf1d, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
        for (int round = 0; round < 25; ++round) {
            ComPtr<IClassFactory> factory;
            std::vector<ComPtr<IFormattedIO488>> objects(16);
            for (auto& object : objects)
                if (FAILED(get_class_object(fmtdio, IID_IClassFactory, &factory)) ||
                    FAILED(factory->CreateInstance(nullptr, IID_IFormattedIO488, &object)))
                    failure = L"a creation failed";
            for (int lock = 0; lock < 400; ++lock)
                factory->LockServer(TRUE), factory->LockServer(FALSE);
        }
    });
    t.expect(can_unload() == S_OK, L"the module cannot unload after the storm");
}

} // namespace
} // namespace morvane::campaigns

void* operator new(std::size_t size)
{
    void* block = morvane::campaigns::failing_now() ? nullptr : std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    return ++morvane::campaigns::live_new, ++morvane::campaigns::made, block;
}

void operator delete(void* block) noexcept { morvane::campaigns::live_new -= block != nullptr, std::free(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

int main(int argc, char** argv)
{
    using namespace morvane::campaigns;
    const std::tuple<std::string, void (*)(trial&), long> campaigns[] = { // with its trials in CTest: a few seconds
        {"responses", malformed_responses, 8000}, {"faults", session_faults, 1500}, {"arguments", arguments, 8000},
        {"threads", threads, 10}, {"leaks", leaks, 100}};
    const auto c = std::ranges::find(campaigns, argc > 1 ? argv[1] : "", [](const auto& each) { return std::get<0>(each); });
    if (c == std::end(campaigns))
        return std::printf("usage: campaigns responses|faults|arguments|threads|leaks [ITERATIONS [SEED]]\n"), 2;
    const auto& [name, campaign, iterations] = *c;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    morvane::initialize_error_values();
    // A trial counts from where the one before left off; an unchecked first one sets up what stays.
    int passed = 0, failures = 0;
    const auto run = [&](std::uint64_t seed, bool checked) {
        trial t(seed);
        t.input.reserve(64); // its block is counted before the trial, whatever it grows to
        const long long before_new = live_new, before_com = live_com - excused;
        campaign(t);
        clear_thread_error();
        const long long left_new = live_new - before_new, left_com = live_com - excused - before_com;
        t.expect(!checked || (spying && left_new == 0 && left_com == 0),
                 L"blocks left: " + std::to_wstring(left_new) + L" of operator new, " + std::to_wstring(left_com) + L" of the task allocator");
        std::printf(t.failures ? "\n" : "");
        (t.failures ? failures : passed) += checked;
    };
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 0) : 1;
    run(seed ^ 0x5EED, false);
    std::ifstream replay(CAMPAIGN_REPLAY);
    for (std::string line, replayed_name; std::getline(replay, line);)
        if (std::uint64_t replayed = 0; std::istringstream(line) >> replayed_name >> replayed && replayed_name == name)
            run(replayed, true);
    for (long i = 0; i < (argc > 2 ? std::atol(argv[2]) : iterations) && failures < 10; ++i)
        run(seed + i, true);
    std::printf("campaign %s: %d passed, %d failed, %lld blocks allocated\n", name.c_str(), passed, failures, made.load());
    CoUninitialize();
    return failures ? 1 : 0;
}
