// Arguments: one random call of any method with arguments of every kind: null and unusable
// pointers, null, empty and NUL-holding strings, strings just before a page with no access,
// VARIANTs of every type with and without VT_BYREF, arrays of every element type, of several
// dimensions and with bounds near the 32-bit limits, number types from -5 to 300 and 65541.
// The call runs as it is, then again with each of its allocations failing in turn. Its result
// must be what the method's checks give in their order (expected() below), its [in] arguments
// unchanged, its outputs empty on failure and well formed on success; a failed allocation
// gives the same result or a failure of memory, and the object goes on working.
#include <climits>
#include <deque>
#include <functional>
#include "campaigns/campaign.hpp"
#include "platform/ansi.hpp"

namespace morvane::campaigns {
namespace {

// Memory that the arguments of one call point into, kept until the call's checks are done.
struct argument_store {
    std::deque<unique_variant> variants;
    std::deque<guarded_bytes> guarded;
    std::deque<unique_bstr> strings;
    std::deque<SAFEARRAY*> arrays; // referred to by VT_ARRAY | VT_BYREF
};

const VARTYPE scalar_types[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH,
                                VT_ERROR, VT_BOOL, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8,
                                VT_INT, VT_UINT};

std::wstring text(trial& t)
{
    std::wstring text(static_cast<std::size_t>(t.between(0, 6)), L' ');
    for (wchar_t& c : text)
        c = t.pick<wchar_t>({L'1', L'2', L'.', L'-', L'e', L',', L';', L'a', L' ', L'\0', L'\x20AC', L'\x4E2D', L'\xE9'});
    return text;
}

// A string: null, empty, text with NULs and characters outside the code page, or such text
// just before a page with no access.
BSTR string(trial& t, argument_store& store)
{
    if (t.chance(10))
        return nullptr;
    const std::wstring chars = text(t);
    if (t.chance(70))
        return store.strings.emplace_back(bstr(chars)).get();
    const UINT bytes = static_cast<UINT>(chars.size() * sizeof(wchar_t));
    unsigned char* at = store.guarded.emplace_back(sizeof bytes + bytes + sizeof(wchar_t)).data();
    std::memcpy(at, &bytes, sizeof bytes);
    std::memcpy(at + sizeof bytes, chars.c_str(), bytes + sizeof(wchar_t));
    return reinterpret_cast<BSTR>(at + sizeof bytes);
}

void scalar(trial& t, VARIANT& value, VARTYPE type)
{
    VariantInit(&value);
    value.llVal = static_cast<LONGLONG>(t.between(LLONG_MIN, LLONG_MAX)) >> t.between(0, 63);
    if (type == VT_R8 || type == VT_DATE)
        V_R8(&value) = static_cast<double>(value.llVal) / static_cast<double>(t.between(1, 1000));
    if (type == VT_R4)
        V_R4(&value) = static_cast<float>(value.lVal) / static_cast<float>(t.between(1, 1000));
    if (type == VT_BOOL)
        V_BOOL(&value) = t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE});
    if (type == VT_BSTR)
        V_BSTR(&value) = SysAllocString(text(t).c_str());
    if (type == VT_DECIMAL)
        VarDecFromR8(static_cast<double>(value.lVal) / 8, &V_DECIMAL(&value));
    if (type == VT_DISPATCH || type == VT_UNKNOWN)
        V_UNKNOWN(&value) = nullptr;
    V_VT(&value) = type;
}

// An array of a random element type, dimensions and bounds, its elements random.
SAFEARRAY* array(trial& t, VARTYPE type)
{
    SAFEARRAYBOUND bounds[3];
    const UINT dimensions = t.chance(85) ? 1 : static_cast<UINT>(t.between(2, 3));
    for (UINT i = 0; i < dimensions; ++i)
        bounds[i] = {static_cast<ULONG>(t.between(0, 5)), t.pick<LONG>({0, 1, -3, LONG_MAX - 2, LONG_MAX, LONG_MIN})};
    SAFEARRAY* array = SafeArrayCreate(type, dimensions, bounds);
    ULONG count = 1;
    for (UINT i = 0; i < dimensions; ++i)
        count *= bounds[i].cElements;
    for (ULONG i = 0; i < count; ++i) {
        unsigned char* element = static_cast<unsigned char*>(array->pvData) + i * array->cbElements;
        VARIANT value;
        scalar(t, value, type == VT_VARIANT ? t.pick<VARTYPE>({VT_I4, VT_R8, VT_BSTR, VT_ERROR, VT_EMPTY}) : type);
        if (type == VT_VARIANT)
            std::memcpy(element, &value, sizeof value);
        else if (type == VT_DECIMAL)
            std::memcpy(element, &V_DECIMAL(&value), sizeof(DECIMAL));
        else
            std::memcpy(element, &value.llVal, array->cbElements);
    }
    return array;
}

// A well-formed VARIANT of any type, by value or by reference.
VARIANT& variant(trial& t, argument_store& store)
{
    VARIANT& value = *store.variants.emplace_back().get();
    const bool is_array = t.chance(40);
    const VARTYPE type = is_array ? t.pick<VARTYPE>({VT_I2, VT_I4, VT_R4, VT_R8, VT_UI1, VT_BSTR, VT_VARIANT, VT_CY, VT_DATE,
                                                     VT_BOOL, VT_DECIMAL, VT_I1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT, VT_ERROR})
                                  : scalar_types[t.between(0, std::size(scalar_types) - 1)];
    const bool by_reference = t.chance(20) && type != VT_EMPTY && type != VT_NULL;
    if (is_array) {
        SAFEARRAY* made = t.chance(3) ? nullptr : array(t, type);
        V_VT(&value) = VT_ARRAY | type;
        V_ARRAY(&value) = made;
        if (by_reference) {
            V_VT(&value) |= VT_BYREF;
            V_ARRAYREF(&value) = &store.arrays.emplace_back(made);
            VARIANT& owner = *store.variants.emplace_back().get(); // destroys the array
            V_VT(&owner) = VT_ARRAY | type, V_ARRAY(&owner) = made;
        }
        return value;
    }
    if (!by_reference) {
        scalar(t, value, type);
        return value;
    }
    VARIANT& target = *store.variants.emplace_back().get();
    scalar(t, target, type);
    if (t.chance(20)) { // a VARIANT that refers to another
        V_VT(&value) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&value) = &target;
        return value;
    }
    V_VT(&value) = VT_BYREF | type;
    V_BYREF(&value) = type == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(&target)) : static_cast<void*>(&target.llVal);
    return value;
}

// A pointer argument: usually good, else null or one whose memory ends before the size it points to.
template <typename T>
T* pointer(trial& t, argument_store& store, T* good, bool& usable)
{
    usable = t.chance(80);
    return usable ? good : t.chance(50) ? nullptr : reinterpret_cast<T*>(store.guarded.emplace_back(sizeof(T) / 2).data());
}

// [in] arguments as bytes: the VARIANT itself, what it refers to, its array's descriptor, data
// and elements, strings; any change shows.
std::string snapshot(const VARIANT& value)
{
    std::string bytes(reinterpret_cast<const char*>(&value), sizeof value);
    const VARTYPE type = V_VT(&value);
    if (type == VT_BSTR && V_BSTR(&value))
        bytes.append(reinterpret_cast<const char*>(V_BSTR(&value)), SysStringByteLen(V_BSTR(&value)));
    if (type == (VT_BYREF | VT_VARIANT))
        bytes += snapshot(*V_VARIANTREF(&value));
    SAFEARRAY* array = !(type & VT_ARRAY) ? nullptr : type & VT_BYREF ? *V_ARRAYREF(&value) : V_ARRAY(&value);
    if (!array)
        return bytes;
    bytes.append(reinterpret_cast<const char*>(array), sizeof(SAFEARRAY) + (array->cDims - 1) * sizeof(SAFEARRAYBOUND));
    ULONG count = 1;
    for (USHORT i = 0; i < array->cDims; ++i)
        count *= array->rgsabound[i].cElements;
    for (ULONG i = 0; i < count; ++i) {
        const char* element = static_cast<const char*>(array->pvData) + i * array->cbElements;
        if ((type & VT_TYPEMASK) == VT_VARIANT)
            bytes += snapshot(*reinterpret_cast<const VARIANT*>(element));
        else if ((type & VT_TYPEMASK) == VT_BSTR)
            bytes += snapshot(string_variant(*reinterpret_cast<const BSTR*>(element)));
        else
            bytes.append(element, array->cbElements);
    }
    return bytes;
}

std::wstring component(HRESULT hr, const wchar_t* description, DWORD help_context)
{
    return component_failure(hr, description, help_context);
}
const std::wstring bad_pointer = outcome(E_POINTER);
const wchar_t* const coercion_failed = L"The variant argument could not be coerced to the desired type.";
std::wstring no_session() { return component(E_FAIL, L"No valid COM I/O resource available, set the IO property to a valid COM I/O resource.", 1030); }
std::wstring empty_end() { return component(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033); }
std::wstring unknown_type(HRESULT hr) { return component(hr, L"The NumberType argument was not a recognized enumeration value.", 1028); }
std::wstring block_type() { return component(E_INVALIDARG, L"IEEE binary blocks cannot be of the type provided in the array argument.", 1025); }

bool list_code(std::uint32_t code)
{
    return code == 2 || code == 3 || code == 4 || code == 5 || code == 8 || code == 12 || code == 17;
}

// Message 123 as the component formats it, at a line width of 80.
std::wstring element_failure(LONG index, HRESULT hr)
{
    char* text = nullptr;
    const DWORD_PTR inserts[] = {static_cast<DWORD_PTR>(index), reinterpret_cast<DWORD_PTR>("The variant argument could not be coerced to the desired type.")};
    FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY | 80,
                   "While attempting to convert element %1!d! of array to the desired data format, this error occurred: \"%2!s!\".",
                   0, 0, reinterpret_cast<char*>(&text), 0, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
    const std::wstring description(text, text + std::strlen(text));
    LocalFree(text);
    (void)hr;
    return component(E_INVALIDARG, description.c_str(), 1017);
}

SAFEARRAY* array_of(const VARIANT& value)
{
    return V_VT(&value) & VT_BYREF ? *V_ARRAYREF(&value) : V_ARRAY(&value);
}

// WriteNumber after its pointer and session checks.
std::wstring write_number_result(const VARIANT& data, std::uint32_t code)
{
    unique_variant copy;
    copy.copy_from(data);
    VARTYPE type = static_cast<VARTYPE>(code);
    HRESULT hr = S_OK;
    if (type == VT_VARIANT)
        type = copy.type();
    else if (FAILED(hr = copy.change_type(type)))
        return component(hr, coercion_failed, 1017);
    if (copy.type() & VT_ARRAY)
        return component(E_INVALIDARG, L"Expected VARIANT argument to be a single number, not an array.", 1026);
    if (type == VT_BSTR && FAILED(hr = copy.change_type(VT_R8)))
        return component(hr, coercion_failed, 1017);
    if (type != VT_I2 && type != VT_I4 && type != VT_R4 && type != VT_R8 && type != VT_BSTR && type != VT_UI1)
        return component(E_INVALIDARG, L"The VARIANT argument could not be coerced to a valid numeric format.", 1027);
    return outcome(S_OK);
}

// WriteList after its pointer and session checks.
std::wstring write_list_result(const VARIANT& data, std::uint32_t code, BSTR separator, bool flush)
{
    if (!(V_VT(&data) & VT_ARRAY))
        return component(E_INVALIDARG, L"WriteList expected an array argument to write.", 1031);
    if (!list_code(code))
        return unknown_type(E_INVALIDARG);
    if (SysStringLen(separator) != 1)
        return component(E_INVALIDARG, L"The list separator character parameter must be a string containing a single character.", 1035);
    SAFEARRAY* array = array_of(data);
    const UINT dimensions = array ? SafeArrayGetDim(array) : 0;
    if (dimensions != 1)
        return dimensions ? component(E_INVALIDARG, L"The Array argument was multidimensional.", 1029)
                          : component(E_INVALIDARG, L"Bad Array Argument", 1017);
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    const VARTYPE element_type = V_VT(&data) & VT_TYPEMASK;
    for (LONGLONG index = lower; index <= upper; ++index) {
        LONG i = static_cast<LONG>(index);
        unique_variant element;
        HRESULT hr = SafeArrayGetElement(array, &i, element_type == VT_VARIANT   ? static_cast<void*>(element.get())
                                                    : element_type == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(element.get()))
                                                                                 : static_cast<void*>(&element.get()->llVal));
        if (FAILED(hr))
            return component(hr, L"Bad Array Argument", 1017);
        if (element_type != VT_VARIANT)
            V_VT(element.get()) = element_type;
        if (code != VT_VARIANT && element.type() != code && FAILED(hr = element.change_type(static_cast<VARTYPE>(code))))
            return element_failure(i, hr);
        if (code == VT_VARIANT && FAILED(hr = element.change_type(VT_BSTR)))
            return component(hr, coercion_failed, 1017);
    }
    return upper < lower && flush ? empty_end() : outcome(S_OK);
}

// WriteIEEEBlock after its pointer and session checks.
std::wstring write_block_result(const VARIANT& data)
{
    if (!(V_VT(&data) & VT_ARRAY))
        return block_type();
    LONG lower = 0, upper = 0;
    SAFEARRAY* array = array_of(data);
    if (!array || FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return outcome(E_UNEXPECTED);
    const VARTYPE type = V_VT(&data) & VT_TYPEMASK;
    if (type != VT_I2 && type != VT_I4 && type != VT_R4 && type != VT_R8 && type != VT_UI1)
        return block_type();
    // Bounds that wrapped around the 32-bit range count more than the array holds: refused.
    ULONGLONG cells = 1;
    for (USHORT i = 0; i < array->cDims; ++i)
        cells *= array->rgsabound[i].cElements;
    return std::max(0LL, LONGLONG(upper) - lower + 1) > LONGLONG(cells) ? outcome(E_UNEXPECTED) : outcome(S_OK);
}

std::uint32_t number_code(trial& t)
{
    return static_cast<std::uint32_t>(t.chance(50) ? t.pick<long>({2, 3, 4, 5, 8, 12, 17}) : t.chance(95) ? t.between(-5, 300) : 65541);
}

struct generated_call {
    std::function<std::wstring(IFormattedIO488*, scripted_session&)> run; // the result as text
    std::wstring expected; // the result, or how it begins
    std::function<std::string()> inputs; // the [in] arguments as bytes
    bool binds = false; // IO put: a failure leaves the object without streams, until it is bound again
};

std::wstring bstr_result(HRESULT hr, BSTR text)
{
    const unique_bstr owned(text);
    return outcome(hr) + L" 8:" + std::wstring(bstr_view(text));
}

std::wstring variant_result(HRESULT hr, VARIANT& value)
{
    const std::wstring text = result_text(hr, value);
    VariantClear(&value);
    return text;
}

generated_call generate(trial& t, argument_store& store, bool bound)
{
    const VARIANT_BOOL flag = t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE, 1, 2});
    const std::uint32_t code = number_code(t);
    bool usable = true;
    const auto checked = [&](const std::wstring& result) { return !usable ? bad_pointer : !bound ? no_session() : result; };
    const long long which = t.between(0, 12);
    t.input = std::to_string(which) + ":";
    switch (which) {
    case 0: {
        BSTR text = string(t, store);
        usable = text && !IsBadReadPtr(text, 2);
        const std::string bytes = usable ? to_ansi(std::wstring(text, std::wcslen(text))) : "";
        return {[=](IFormattedIO488* io, scripted_session& session) {
                    const HRESULT hr = armed([&] { return io->WriteString(text, flag); });
                    std::string sent;
                    for (const std::string& write : session.writes())
                        sent += write;
                    return outcome(hr) + (flag && SUCCEEDED(hr) ? L" " + std::wstring(sent.begin(), sent.end()) : L"");
                }, checked(bytes.empty() && flag ? empty_end() : outcome(S_OK) + (flag ? L" " + std::wstring(bytes.begin(), bytes.end()) + (bytes.back() == '\n' ? L"" : L"\n") : L"")),
                [=] { return usable ? std::string(reinterpret_cast<const char*>(text), SysStringByteLen(text)) : ""; }};
    }
    case 1: {
        const VARIANT& data = variant(t, store);
        return {[=, &data](IFormattedIO488* io, scripted_session&) { return outcome(armed([&] { return io->WriteNumber(data, number_type(static_cast<long>(code)), flag); })); },
                checked(write_number_result(data, code & 0xFFFF)), [&data] { return snapshot(data); }};
    }
    case 2: {
        VARIANT* data = pointer(t, store, &variant(t, store), usable);
        BSTR separator = t.chance(60) ? store.strings.emplace_back(bstr(std::wstring(1, t.pick<wchar_t>({L',', L';', L'\x20AC'})))).get() : string(t, store);
        return {[=](IFormattedIO488* io, scripted_session&) { return outcome(armed([&] { return io->WriteList(data, number_type(static_cast<long>(code)), separator, flag); })); },
                checked(usable ? write_list_result(*data, code, separator, flag) : L""), [=] { return usable ? snapshot(*data) : ""; }};
    }
    case 3: {
        BSTR command = string(t, store);
        usable = !command || !IsBadReadPtr(command, 2);
        const VARIANT& data = variant(t, store);
        return {[=, &data](IFormattedIO488* io, scripted_session&) { return outcome(armed([&] { return io->WriteIEEEBlock(command, data, flag); })); },
                checked(write_block_result(data)), [=, &data] { return snapshot(data) + (command ? snapshot(string_variant(command)) : ""); }};
    }
    case 4: {
        BSTR* text = pointer(t, store, &store.variants.emplace_back().get()->bstrVal, usable);
        return {[=](IFormattedIO488* io, scripted_session& session) {
                    session.respond("ok\n");
                    const HRESULT hr = armed([&] { return io->ReadString(text); });
                    return SUCCEEDED(hr) || usable ? bstr_result(hr, *text) : outcome(hr);
                }, checked(outcome(S_OK) + L" 8:ok\n"), [] { return std::string(); }};
    }
    case 5: case 6: case 7: {
        VARIANT* result = pointer(t, store, store.variants.emplace_back().get(), usable);
        const long kind = static_cast<long>(t.between(5, 7));
        BSTR separators = string(t, store);
        const std::string block("#14\x00\x01\xFF\xFE\n", 9);
        const std::size_t size = code == 17 ? 1 : code == 2 ? 2 : code == 3 || code == 4 ? 4 : code == 5 ? 8 : 0;
        const std::wstring array = std::to_wstring(VT_ARRAY | code) + L"[0..";
        const std::wstring expected = kind == 5 ? outcome(S_OK) + L" 5:1.5"
                                      : kind == 6 ? (!list_code(code) ? unknown_type(E_FORMATTEDIO_DATA) + L" 0"
                                                     : outcome(S_OK) + L" " + array + L"0] " + std::to_wstring(code == 12 ? 3 : code) + L":7")
                                                  : size == 0 || size == 8 ? component(size ? E_FORMATTEDIO_DATA : E_INVALIDARG, L"The Safearray cannot be converted to the desired type.", 1024) + L" 0"
                                                                           : outcome(S_OK) + L" " + array + std::to_wstring(4 / size - 1) + L"]";
        return {[=](IFormattedIO488* io, scripted_session& session) {
                    session.respond(kind == 5 ? "1.5\n" : kind == 6 ? "7\n" : block);
                    const HRESULT hr = armed([&] {
                        const NumberType type = number_type(static_cast<long>(code));
                        return kind == 5 ? io->ReadNumber(type, flag, result)
                               : kind == 6 ? io->ReadList(type, separators, result)
                                           : io->ReadIEEEBlock(type, flag, flag, result);
                    });
                    return usable ? variant_result(hr, *result) : outcome(hr);
                }, checked(expected), [=] { return separators && !IsBadReadPtr(separators, 2) ? snapshot(string_variant(separators)) : ""; }};
    }
    case 8: {
        const LONG size = t.pick<LONG>({-5, 0, 1, 7, 1000, 1 << 20});
        const long mask = t.pick<long>({0x10, 0x20, 0x30, 0x40, 0, -1});
        return {[=](IFormattedIO488* io, scripted_session&) { return outcome(armed([&] { return io->SetBufferSize(enum_bits<BufferMask>(mask), size); })); },
                checked(size < 1 ? component(E_INVALIDARG, L"The Buffer's size must be greater than zero.", 1036)
                        : mask & 0x30 ? outcome(S_OK) : outcome(E_INVALIDARG)), [] { return std::string(); }};
    }
    case 9:
        return {[=](IFormattedIO488* io, scripted_session&) { return outcome(armed([&] { return code % 2 ? io->FlushRead() : io->FlushWrite(flag); })); },
                checked(code % 2 == 0 && flag ? empty_end() : outcome(S_OK)), [] { return std::string(); }};
    case 10: {
        IMessage** session = pointer(t, store, reinterpret_cast<IMessage**>(&store.variants.emplace_back().get()->punkVal), usable);
        return {[=](IFormattedIO488* io, scripted_session&) {
                    const HRESULT hr = armed([&] { return io->get_IO(session); });
                    const bool got = usable && *session;
                    if (got)
                        (*session)->Release();
                    return outcome(hr) + (got ? L" session" : L"");
                }, !usable ? bad_pointer : outcome(S_OK) + (bound ? L" session" : L""), [] { return std::string(); }};
    }
    case 11: {
        VARIANT_BOOL* big_endian = pointer(t, store, &store.variants.emplace_back().get()->boolVal, usable);
        return {[=](IFormattedIO488* io, scripted_session&) {
                    const HRESULT hr = armed([&] {
                        const HRESULT put = io->put_InstrumentBigEndian(flag);
                        return FAILED(put) ? put : io->get_InstrumentBigEndian(big_endian);
                    });
                    return outcome(hr) + (usable ? L" " + std::to_wstring(*big_endian) : L"");
                }, !usable ? bad_pointer : outcome(S_OK) + L" " + std::to_wstring(flag), [] { return std::string(); }};
    }
    default: {
        IMessage* replacement = t.chance(20) ? nullptr : reinterpret_cast<IMessage*>(store.guarded.emplace_back(4).data());
        const bool rebind = t.chance(60);
        return {[=](IFormattedIO488* io, scripted_session& session) {
                    return outcome(armed([&] { return io->putref_IO(rebind ? static_cast<IMessage*>(&session) : replacement); }));
                }, rebind || !replacement ? outcome(S_OK) : bad_pointer, [] { return std::string(); }, true};
    }
    }
}

bool memory_failure(const std::wstring& result)
{
    return result.starts_with(std::to_wstring(E_OUTOFMEMORY) + L" ") || result.starts_with(std::to_wstring(E_UNEXPECTED) + L" ") ||
           result.starts_with(not_parsed() + L" ") || result.find(L"While attempting to convert element") != std::wstring::npos ||
           result.find(coercion_failed) != std::wstring::npos; // the platform may report its own lack of memory so
}

// Runs the call on a fresh object, with the nth allocation failing when nth is not 0; `failed`
// tells whether it did.
std::wstring run(trial& t, const generated_call& call, bool bound, long nth, bool& failed)
{
    scripted_session session;
    com_ptr<IFormattedIO488> io = make_fmtdio();
    if (bound)
        io->putref_IO(&session);
    const std::string before = call.inputs();
    clear_thread_error();
    fail_allocation(nth);
    const std::wstring result = call.run(io.Get(), session);
    failed = allocation_failed();
    fail_allocation(0);
    t.expect(call.inputs() == before, L"[in] arguments changed by " + result);
    if (call.binds && session.references() > 0)
        io->putref_IO(&session);
    if (session.references() > 0)
        expect_exchange(t, io.Get(), session);
    io.Reset();
    t.expect(session.references() == 0, L"session references kept after " + result);
    return result;
}

// One random call on a bound object; what it gives depends on those before it, which may have
// left output pending and input unread.
void random_call(trial& t, IFormattedIO488* io, scripted_session& session)
{
    argument_store store;
    const generated_call call = generate(t, store, true);
    call.run(io, session);
    session.clear_chunks();
}

} // namespace

void arguments(trial& t)
{
    argument_store store;
    const bool bound = t.chance(85);
    const generated_call call = generate(t, store, bound);
    t.input += call.inputs();
    bool failed = false;
    const std::wstring result = run(t, call, bound, 0, failed);
    t.expect((result + L" ").starts_with(call.expected + L" "), L"result " + result + L"\n  wanted " + call.expected);
    failed = true;
    for (long nth = 1; failed && nth < 100; ++nth) {
        // Under a failed allocation the platform's own copy routines may lose strings they had
        // copied before it; task allocator blocks are counted on the run without failures only.
        const long long task_blocks = allocations().live_com;
        const std::wstring injected = run(t, call, bound, nth, failed);
        excuse_task_blocks(allocations().live_com - task_blocks);
        t.expect(injected == result || (failed && memory_failure(injected)),
                 L"allocation " + std::to_wstring(nth) + L" failing: " + injected + L"\n  without: " + result);
    }
}

void leaks(trial& t)
{
    scripted_session session;
    com_ptr<IFormattedIO488> io = make_fmtdio();
    io->putref_IO(&session);
    for (int i = 0; i < 1000 && !t.failed(); ++i) {
        clear_thread_error();
        random_call(t, io.Get(), session);
        if (session.references() == 0)
            io->putref_IO(&session);
    }
    io.Reset();
    t.expect(session.references() == 0, L"session references kept");
}

} // namespace morvane::campaigns
