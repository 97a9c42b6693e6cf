// Calls with random arguments of every kind (the draws stay in this order, for the replay file's seeds).
#include <algorithm>
#include <climits>
#include <cstring>
#include "campaign.hpp"

namespace morvane::campaigns {
namespace {

// An enumeration argument with any bits, never held in a variable, whose loads the checked build traps.
template<typename Enum = NumberType> Enum enum_bits(long bits)
{
    Enum value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

HRESULT invoke(const call& c, ComPtr<IFormattedIO488>& io, scripted_session& session)
{
    const auto pointer = [&c](auto* usable) { return c.usable ? usable : static_cast<decltype(usable)>(c.bad); };
    VARIANT* output = c.output->get();
    switch (c.m) {
    case method::write_string: return io->WriteString(c.text, c.flag);
    case method::write_number: return io->WriteNumber(*c.data, enum_bits(c.code), c.flag);
    case method::write_list: return io->WriteList(pointer(c.data), enum_bits(c.code), c.separator, c.flag);
    case method::write_block: return io->WriteIEEEBlock(c.text, *c.data, c.flag);
    case method::read_string: return io->ReadString(pointer(&output->bstrVal));
    case method::read_number: return io->ReadNumber(enum_bits(c.code), c.flag, pointer(output));
    case method::read_list: return io->ReadList(enum_bits(c.code), c.separator, pointer(output));
    case method::read_block: return io->ReadIEEEBlock(enum_bits(c.code), c.seek, c.flag, pointer(output));
    case method::set_buffer_size: return io->SetBufferSize(enum_bits<BufferMask>(c.mask), c.size);
    case method::flush: return c.code % 2 ? io->FlushRead() : io->FlushWrite(c.flag);
    case method::get_io: return io->get_IO(pointer(reinterpret_cast<IMessage**>(&output->punkVal)));
    case method::big_endian:
        io->put_InstrumentBigEndian(c.flag);
        return io->get_InstrumentBigEndian(pointer(&output->boolVal));
    case method::put_io: // null unbinds
        return io->putref_IO(c.usable && c.bad ? &session : static_cast<IMessage*>(c.bad));
    case method::final_release: break;
    }
    io.Reset();
    return S_OK;
}

// As the component makes arrays: one dimension, lower bound 0, unlocked, of the element type and size.
bool well_formed_array(const VARIANT& value, VARTYPE type)
{
    SAFEARRAY* array = V_VT(&value) == (VT_ARRAY | type) ? V_ARRAY(&value) : nullptr;
    const ULONG sizes[] = {0, 0, 2, 4, 4, 8, 0, 0, sizeof(BSTR), 0, 0, 0, sizeof(VARIANT), 0, 0, 0, 0, 1};
    VARTYPE own = VT_EMPTY;
    return array && SafeArrayGetDim(array) == 1 && array->cLocks == 0 && type < std::size(sizes) &&
           array->cbElements == sizes[type] && SUCCEEDED(SafeArrayGetVartype(array, &own)) && own == type &&
           array->rgsabound[0].lLbound == 0;
}

std::wstring text(trial& t)
{
    std::wstring text(static_cast<std::size_t>(t.between(0, 6)), L' ');
    for (wchar_t& c : text)
        c = t.pick<wchar_t>(
            {L'1', L'2', L'.', L'-', L'e', L',', L';', L'a', L' ', L'\0', L'\x20AC', L'\x4E2D', L'\xE9'});
    return text;
}

// A number of any size as `type` (text for a string at times), the type alone when it cannot hold it.
void scalar(trial& t, VARIANT& value, VARTYPE type)
{
    V_VT(&value) = VT_R8;
    V_R8(&value) = static_cast<double>(t.between(LLONG_MIN, LLONG_MAX) >> t.between(0, 63)) / t.pick({1., 8., 1e3});
    if (type == VT_BSTR && t.chance(50)) {
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = bstr(text(t)).release();
    }
    if (FAILED(VariantChangeTypeEx(&value, &value, 1033, 0, type))) {
        VariantInit(&value);
        V_VT(&value) = type;
    }
}

// An array of `type` of any bounds in `value`, or a reference to one that another VARIANT holds.
void array(trial& t, argument_store& store, VARIANT& value, VARTYPE type)
{
    SAFEARRAYBOUND bounds[3];
    const UINT dimensions = t.chance(85) ? 1 : static_cast<UINT>(t.between(2, 3));
    for (UINT i = 0; i < dimensions; ++i)
        bounds[i] = {static_cast<ULONG>(t.between(0, 5)), t.pick<LONG>({0, 1, -3, LONG_MAX - 2, LONG_MAX, LONG_MIN})};
    SAFEARRAY* array = t.chance(3) ? nullptr : SafeArrayCreate(type, dimensions, bounds);
    for (ULONG i = 0; array && i < cell_count(array); ++i) { // a value, or the DECIMAL that fills its VARIANT
        VARIANT element;
        scalar(t, element, type == VT_VARIANT ? t.pick<VARTYPE>({VT_I4, VT_R8, VT_BSTR, VT_ERROR, VT_EMPTY}) : type);
        const bool whole = type == VT_VARIANT || type == VT_DECIMAL;
        std::memcpy(static_cast<char*>(array->pvData) + i * array->cbElements,
                    whole ? static_cast<void*>(&element) : &element.llVal, array->cbElements);
    }
    V_VT(&value) = VT_ARRAY | type;
    V_ARRAY(&value) = array;
    if (t.chance(20)) {
        *store.variants.emplace_back().get() = value; // the owner
        V_VT(&value) |= VT_BYREF;
        V_ARRAYREF(&value) = &store.arrays.emplace_back(array);
    }
}

// A value of any type, an array of it, or a reference to either.
VARIANT& variant(trial& t, argument_store& store)
{
    VARIANT& value = *store.variants.emplace_back().get();
    const VARTYPE type = t.pick<VARTYPE>(
        {VT_I2,  VT_I4,  VT_R4, VT_R8,  VT_UI1, VT_BSTR, VT_VARIANT, VT_CY,    VT_DATE, VT_BOOL,     VT_DECIMAL, VT_I1,
         VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT, VT_ERROR,   VT_EMPTY, VT_NULL, VT_DISPATCH, VT_UNKNOWN});
    if (t.chance(40) && type > VT_NULL && type != VT_DISPATCH && type != VT_UNKNOWN) {
        array(t, store, value, type);
        return value;
    }
    VARIANT& target = t.chance(80) || type <= VT_NULL ? value : *store.variants.emplace_back().get();
    scalar(t, target, type == VT_VARIANT ? VARTYPE(VT_I4) : type);
    const bool to_variant = type == VT_VARIANT || t.chance(20);
    if (&target != &value) { // a DECIMAL fills its VARIANT
        V_VT(&value) = VT_BYREF | (to_variant ? VARTYPE(VT_VARIANT) : type);
        V_BYREF(&value) = to_variant || type == VT_DECIMAL ? static_cast<void*>(&target) : &target.llVal;
    }
    return value;
}

} // namespace

call random_call(trial& t, argument_store& store)
{
    static const guarded_bytes unusable(1);
    const auto string = [&](bool separator) { // null, text, or one character as a separator is
        VARIANT& held = *store.variants.emplace_back().get();
        const bool one = separator && t.chance(60);
        V_VT(&held) = VT_BSTR;
        V_BSTR(&held) = bstr(one ? std::wstring(1, t.pick<wchar_t>({L',', L';', L'\x20AC'})) : text(t)).release();
        return t.chance(10) ? nullptr : V_BSTR(&held);
    };
    // clang-format off
    call c{.m = static_cast<method>(t.between(0, static_cast<int>(method::put_io))),
           .code = t.chance(50) ? t.pick(list_types) : t.chance(95) ? static_cast<long>(t.between(-5, 300)) : 65541,
           .mask = t.pick<long>({0x10, 0x20, 0x30, 0x40, 0, -1}), .size = t.pick<LONG>({-5, 0, 1, 7, 1000, 1 << 20}),
           .flag = t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE, 1, 2}),
           .seek = t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE, 1}), .text = string(false),
           .separator = string(true), .data = &variant(t, store), .output = &store.output,
           .bad = t.chance(50) ? nullptr : unusable.data(), .usable = t.chance(80)};
    // clang-format on
    // WriteString's text is its pointer; WriteNumber, WriteIEEEBlock, SetBufferSize and the flushes have none.
    const auto pointerless = {method::write_number, method::write_block, method::set_buffer_size, method::flush};
    c.usable = c.m == method::write_string ? c.text != nullptr
               : c.m == method::put_io     ? c.usable || !c.bad // a null session unbinds
                                           : c.usable || std::ranges::find(pointerless, c.m) != pointerless.end();
    t.input = std::to_string(static_cast<int>(c.m)) + ":" + snapshot(store);
    return c;
}

std::string snapshot(const argument_store& store)
{
    std::string bytes;
    const auto add = [&](const void* data, std::size_t size) { bytes.append(static_cast<const char*>(data), size); };
    for (const unique_variant& each : store.variants) {
        const VARIANT& value = *each;
        add(&value, sizeof value);
        if (V_VT(&value) == VT_BSTR && V_BSTR(&value))
            add(V_BSTR(&value), SysStringByteLen(V_BSTR(&value)));
        const SAFEARRAY* array = V_VT(&value) & VT_ARRAY && !(V_VT(&value) & VT_BYREF) ? V_ARRAY(&value) : nullptr;
        if (array) {
            add(array, sizeof(SAFEARRAY));
            add(array->pvData, cell_count(array) * array->cbElements);
        }
    }
    return bytes;
}

ComPtr<IFormattedIO488> bound(scripted_session& session)
{
    ComPtr<IFormattedIO488> io = make_fmtdio();
    io->putref_IO(&session);
    return io;
}

void respond(scripted_session& session, method m)
{
    const std::string block("#14\x00\x01\xFF\xFE\n", 9);
    const std::string response = m == method::read_number ? "1.5\n" : m == method::read_list ? "7\n" : block;
    session.respond(response + "9\n", {response.size()});
}

std::wstring run_call(trial& t, const call& c, ComPtr<IFormattedIO488>& io, scripted_session& session, long nth)
{
    VARIANT& out = *c.output->get();
    V_UNKNOWN(&out) = nullptr; // empty, with no pointer in it
    clear_thread_error();
    countdown = nth;
    failed = false;
    counting = true;
    const HRESULT hr = invoke(c, io, session);
    counting = false;
    if (c.usable && (c.m == method::read_string || c.m == method::get_io) && V_UNKNOWN(&out))
        V_VT(&out) = c.m == method::read_string ? VT_BSTR : VT_UNKNOWN;
    const VARTYPE type = V_VT(&out);
    const std::wstring result = outcome(hr) + L" " + contents(out);
    const bool array_read = c.m == method::read_list || c.m == method::read_block;
    const bool empty_block = c.m == method::read_block && type == VT_EMPTY;
    const bool well_formed = FAILED(hr) ? type == VT_EMPTY || (c.m == method::read_list && type & VT_ARRAY)
                             : c.m == method::read_number
                                 ? type == VT_R8
                                 : !array_read || empty_block || well_formed_array(out, static_cast<VARTYPE>(c.code));
    t.expect(!c.usable || well_formed, L"a malformed output after " + result);
    c.output->clear();
    return result;
}

bool own_failure(const std::wstring& result, const std::vector<DWORD>& help_contexts)
{
    return !result.starts_with(L"0 ") && std::ranges::any_of(help_contexts, [&](DWORD context) {
        const std::wstring record = component_failure(S_OK, L"", context).substr(3); // "] [source] [help file] context"
        return result.find(record + L" ") != std::wstring::npos;
    });
}

std::pair<HRESULT, std::wstring> read_string(IFormattedIO488* io)
{
    BSTR text = nullptr;
    const HRESULT hr = io->ReadString(&text);
    return {hr, std::wstring(bstr_view(unique_bstr(text).get()))};
}

void expect_exchange(trial& t, IFormattedIO488* io, scripted_session& session)
{
    io->FlushWrite(VARIANT_FALSE);
    io->FlushRead();
    session.clear_chunks();
    session.respond("ok\n");
    const HRESULT written = io->WriteString(bstr(L"*IDN?").get(), VARIANT_TRUE);
    const auto [read, response] = read_string(io);
    t.expect(written == S_OK && read == S_OK && response == L"ok\n",
             L"no exchange after it: " + std::to_wstring(written) + L" " + std::to_wstring(read));
}

} // namespace morvane::campaigns
