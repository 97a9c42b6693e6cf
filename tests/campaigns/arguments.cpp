// Arguments: a call of a random method with random arguments: null and unusable pointers, null,
// empty and NUL-holding strings, VARIANTs of every type by value and by reference, arrays of
// every element type, of several dimensions and with bounds near the 32-bit limits, number types
// from -5 to 300 and 65541. It runs, then again with each of its allocations failing in turn. It
// must give S_OK or a failure that named[] allows, leave its [in] arguments as they were and its
// output empty on failure and well formed on success, give the same result or a failure of memory
// when an allocation fails, and leave an object that works.
#include <algorithm>
#include <climits>
#include <deque>
#include "campaigns/campaign.hpp"

namespace morvane::campaigns {
namespace {

// What the arguments of one call point into, kept until its checks are done.
struct argument_store {
    unique_variant output;
    std::deque<unique_variant> variants;
    std::deque<unique_bstr> strings;
    std::deque<SAFEARRAY*> arrays; // referred to by VT_ARRAY | VT_BYREF
};

std::wstring text(trial& t)
{
    std::wstring text(static_cast<std::size_t>(t.between(0, 6)), L' ');
    std::ranges::generate(text, [&] { return t.pick<wchar_t>({L'1', L'2', L'.', L'-', L'e', L',', L';', L'a', L' ', L'\0', L'\x20AC', L'\x4E2D', L'\xE9'}); });
    return text;
}

ULONG cells(const SAFEARRAY* array)
{
    ULONG count = array != nullptr;
    for (USHORT i = 0; array && i < array->cDims; ++i)
        count *= array->rgsabound[i].cElements;
    return count;
}

// A random number of any magnitude or text, in the type if it converts, else the type's zero.
void scalar(trial& t, VARIANT& value, VARTYPE type)
{
    V_VT(&value) = VT_R8, V_R8(&value) = static_cast<double>(t.between(LLONG_MIN, LLONG_MAX) >> t.between(0, 63)) / t.pick({1., 8., 1e3});
    if (type == VT_BSTR && t.chance(50))
        V_VT(&value) = VT_BSTR, V_BSTR(&value) = bstr(text(t)).release();
    if (FAILED(VariantChangeTypeEx(&value, &value, 1033, 0, type)))
        VariantInit(&value), V_VT(&value) = type;
}

// A well-formed VARIANT of any type, by value or by reference, maybe an array.
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
    if (&target != &value)
        V_VT(&value) = VT_BYREF | (to_variant ? VARTYPE(VT_VARIANT) : type), V_BYREF(&value) = to_variant || type == VT_DECIMAL ? static_cast<void*>(&target) : &target.llVal;
    return value;
}

// The [in] arguments as bytes: each VARIANT with its array's descriptor and data or its string, each string.
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
    for (const unique_bstr& text : store.strings)
        add(text.get(), SysStringByteLen(text.get()));
    return bytes;
}

// The arguments of one call of a method, by its row in named[]. A pointer argument that is not
// usable is null, or a byte before a page with no access.
struct call {
    int method;
    long code, mask; // NumberType, BufferMask
    LONG size;
    VARIANT_BOOL flag;
    BSTR text, separator;
    VARIANT *data, *output;
    void* bad;
    bool usable;
};

// The failures that each method names beside a bad pointer and no session: help contexts with
// the component's record, and one HRESULT without a record.
const struct {
    std::vector<DWORD> help_contexts;
    HRESULT bare = S_OK;
    bool needs_session = true;
} named[] = {{{1033}}, {{1017, 1026, 1027}}, {{1017, 1028, 1029, 1031, 1033, 1035}}, {{1025}, E_UNEXPECTED}, {}, {}, {{1028}},
             {{1024}}, {{1036}, E_INVALIDARG}, {{1033}}, {{}, S_OK, false}, {{}, S_OK, false}, {{}, S_OK, false}};

call generate(trial& t, argument_store& store)
{
    static const guarded_bytes unusable(1);
    const auto string = [&](bool separator) {
        const std::wstring chars = separator && t.chance(60) ? std::wstring(1, t.pick<wchar_t>({L',', L';', L'\x20AC'})) : text(t);
        return t.chance(10) ? nullptr : store.strings.emplace_back(bstr(chars)).get();
    };
    call c{static_cast<int>(t.between(0, 12)), t.chance(50) ? t.pick<long>({2, 3, 4, 5, 8, 12, 17}) : t.chance(95) ? static_cast<long>(t.between(-5, 300)) : 65541,
           t.pick<long>({0x10, 0x20, 0x30, 0x40, 0, -1}), t.pick<LONG>({-5, 0, 1, 7, 1000, 1 << 20}), t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE, 1, 2}),
           string(false), string(true), &variant(t, store), store.output.get(), t.chance(50) ? nullptr : unusable.data(), t.chance(80)};
    c.usable = c.method == 0 ? c.text != nullptr : c.method == 12 ? c.usable || !c.bad : c.usable || c.method == 1 || c.method == 3 || c.method == 8 || c.method == 9;
    t.input = std::to_string(c.method) + ":" + snapshot(store);
    return c;
}

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
    case 7: return io->ReadIEEEBlock(enum_bits(c.code), c.flag, c.flag, pointer(c.output));
    case 8: return io->SetBufferSize(enum_bits<BufferMask>(c.mask), c.size);
    case 9: return c.code % 2 ? io->FlushRead() : io->FlushWrite(c.flag);
    case 10: return io->get_IO(pointer(reinterpret_cast<IMessage**>(&c.output->punkVal)));
    case 11: return io->put_InstrumentBigEndian(c.flag), io->get_InstrumentBigEndian(pointer(&c.output->boolVal));
    default: return io->putref_IO(c.usable && c.bad ? &session : static_cast<IMessage*>(c.bad)); // null unbinds
    }
}

// The call with a response scripted: its outcome. Its output, then freed, must be empty after a
// failure (a list keeps what it read, the client's to free).
std::wstring run(trial& t, const call& c, IFormattedIO488* io, scripted_session& session, long nth = 0)
{
    session.respond(c.method == 5 ? "1.5\n" : c.method == 6 ? "7\n" : std::string("#14\x00\x01\xFF\xFE\n", 9));
    clear_thread_error();
    const HRESULT hr = with_failing_allocation(nth, [&] { return invoke(c, io, session); });
    const std::wstring result = outcome(hr);
    VARIANT& out = *c.output;
    if (c.usable && (c.method == 4 || c.method == 10) && out.punkVal)
        V_VT(&out) = c.method == 4 ? VT_BSTR : VT_UNKNOWN;
    t.expect(!c.usable || SUCCEEDED(hr) || V_VT(&out) == VT_EMPTY || (c.method == 6 && V_VT(&out) & VT_ARRAY), L"a failure hands out " + value_text(out));
    VariantClear(&out);
    return result;
}

} // namespace

void arguments(trial& t)
{
    argument_store store;
    const call c = generate(t, store);
    const bool bound = t.chance(85);
    const std::string before = snapshot(store);
    const auto& row = named[c.method];
    std::wstring result;
    // On a new object each time, without failing allocations, then with the 1st, 2nd, ... failing.
    for (long nth = 0; nth < 2 || (allocation_failed() && nth < 100); ++nth) {
        const long long task_blocks = allocations().live_com;
        scripted_session session;
        IFormattedIO488* io = make_fmtdio().Detach();
        if (bound)
            io->putref_IO(&session);
        const std::wstring got = run(t, c, io, session, nth);
        io->Release();
        t.expect(snapshot(store) == before && session.references() == 0, L"[in] arguments changed or session references kept: " + got);
        if (nth > 0) // the platform's copies may lose strings when an allocation fails: not the component's
            excuse_task_blocks(allocations().live_com - task_blocks);
        const bool as_named = !c.usable ? got == describe(E_POINTER, nullptr) : !bound && row.needs_session ? own_failure(got, {1030})
                              : got == describe(S_OK, nullptr) || own_failure(got, row.help_contexts) || (row.bare && got == describe(row.bare, nullptr));
        const bool of_memory = allocation_failed() && (got.starts_with(std::to_wstring(E_OUTOFMEMORY) + L" ") ||
                                                       got.starts_with(std::to_wstring(E_UNEXPECTED) + L" ") || own_failure(got, {1017, 1034}));
        t.expect(nth == 0 ? as_named : got == result || of_memory, L"allocation " + std::to_wstring(nth) + L" failing (0: none): " + got + L"\n  without: " + result);
        result = nth == 0 ? got : result;
    }
}

// A thousand random calls on one object, each after what those before it left pending.
void leaks(trial& t)
{
    scripted_session session;
    com_ptr<IFormattedIO488> io = make_fmtdio();
    io->putref_IO(&session);
    for (int i = 0; i < 1000 && !t.failed(); ++i, session.clear_chunks()) {
        argument_store store;
        const call c = generate(t, store);
        run(t, c, io.Get(), session);
        if (c.method == 12)
            io->putref_IO(&session);
    }
    io.Reset();
    t.expect(session.references() == 0, L"session references kept");
}

} // namespace morvane::campaigns
