// Malformed responses: valid strings, lists, numbers and blocks, mutated by flipping,
// inserting, deleting and truncating bytes, or random bytes, read by each read method with
// random arguments. The result must not depend on how the response is chunked, on the chunks'
// statuses or on the input buffer size (the rest of the message, read afterwards, included);
// strings and string lists must be what they are for any input, unmutated responses must give
// their values, and everything else one of the failures that the read names.
#include <algorithm>
#include "campaigns/campaign.hpp"
#include "platform/ansi.hpp"

namespace morvane::campaigns {
namespace {

enum class read_kind { string, number, list, block };

struct request {
    read_kind kind;
    long code;               // lists and blocks: the element type
    std::wstring separators; // lists
    bool seek, flush;        // blocks: both; numbers: flush
    VARIANT_BOOL big_endian;
};

std::size_t element_size(long code)
{
    return code == VT_UI1 ? 1 : code == VT_I2 ? 2 : code == VT_R8 ? 8 : 4;
}

std::wstring ansi(const std::string& bytes)
{
    std::wstring text(bytes.size(), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), static_cast<int>(text.size()));
    return text;
}

// An item that every element type holds, appended as text in one of the forms a response may
// use; the result is its value in the element type: an integer of 0 to 255, or a quarter below 256.
std::wstring item(trial& t, std::string& text, long code)
{
    const long n = static_cast<long>(t.between(0, 1020));
    unique_variant value;
    if (code == VT_I2 || code == VT_I4 || code == VT_UI1 || t.chance(40)) {
        text += t.pick<std::string>({"", " ", "+"}) + std::to_string(n / 4) + t.pick<std::string>({"", " "});
        V_VT(value.get()) = VT_I4, V_I4(value.get()) = n / 4;
    } else {
        const char* const quarters[] = {"0", "25", "5", "75"};
        text += t.chance(50) ? std::to_string(n / 4) + "." + quarters[n % 4]
                             : std::to_string(n * 25) + t.pick<std::string>({"e", "E"}) + "-2";
        V_VT(value.get()) = VT_R8, V_R8(value.get()) = n / 4.0;
    }
    if (code != VT_VARIANT)
        VariantChangeTypeEx(value.get(), value.get(), 1033, 0, static_cast<VARTYPE>(code));
    return L" " + value_text(*value);
}

// A valid response to the request, and the result text of its values.
std::wstring valid_response(trial& t, const request& r, std::string& bytes)
{
    const std::wstring array = std::to_wstring(VT_ARRAY | r.code) + L"[0..";
    if (r.kind == read_kind::number) {
        const std::wstring value = item(t, bytes, VT_R8);
        bytes += t.pick<std::string>({"", "\n", ",7,8\n", " V\n"});
        return value.substr(1);
    }
    if (r.kind == read_kind::list) {
        const std::string separators = r.separators.empty() ? ",;" : to_ansi(r.separators);
        const long count = static_cast<long>(t.between(1, 6));
        std::wstring values;
        for (long i = 0; i < count; ++i) {
            if (i > 0)
                bytes += separators[t.between(0, static_cast<long long>(separators.size()) - 1)];
            values += item(t, bytes, r.code);
        }
        bytes += t.pick<std::string>({"", "\n", "\n9\n"});
        return array + std::to_wstring(count - 1) + L"]" + values;
    }
    // A block, after a few bytes to seek past.
    for (long skipped = r.seek ? static_cast<long>(t.between(0, 4)) : 0; skipped > 0; --skipped)
        bytes += t.pick({'1', ',', '\n', ' '});
    const std::size_t size = element_size(r.code), count = static_cast<std::size_t>(t.between(0, 12));
    const std::string length = std::to_string(count * size);
    bytes += "#" + std::to_string(length.size()) + length;
    std::wstring values = array + std::to_wstring(static_cast<long>(count) - 1) + L"]";
    for (std::size_t i = 0; i < count; ++i) {
        VARIANT element{};
        V_VT(&element) = static_cast<VARTYPE>(r.code);
        for (std::size_t k = 0; k < size; ++k) {
            bytes += static_cast<char>(t.between(0, 255));
            reinterpret_cast<unsigned char*>(&element.llVal)[r.big_endian ? size - 1 - k : k] = bytes.back();
        }
        values += L" " + value_text(element);
    }
    bytes += t.pick<std::string>({"", "\n"});
    return count ? values : L"0";
}

void mutate(trial& t, std::string& bytes)
{
    for (long n = static_cast<long>(t.between(1, 4)); n > 0; --n) {
        const std::size_t at = static_cast<std::size_t>(t.between(0, static_cast<long long>(bytes.size())));
        const char inserted = t.chance(50) ? static_cast<char>(t.between(0, 255))
                                           : t.pick({'\n', '\r', '#', ',', ';', ' ', '\0', '-', '.', 'e', '9'});
        switch (t.between(0, 4)) {
        case 0: if (at < bytes.size()) bytes[at] ^= static_cast<char>(1 << t.between(0, 7)); break;
        case 1: bytes.insert(at, 1, inserted); break;
        case 2: if (at < bytes.size()) bytes.erase(at, 1); break;
        case 3: bytes.resize(at); break;
        default: bytes.insert(at, static_cast<std::size_t>(t.between(90, 110)), inserted); // a token buffer's worth
        }
    }
}

// Random chunks, each but the last with a status that leaves the message open.
void script(trial& t, scripted_session& session, std::string_view bytes, bool other_statuses)
{
    while (bytes.size() > 1 && t.chance(85)) {
        const std::size_t n = static_cast<std::size_t>(t.between(1, std::min<long long>(bytes.size() - 1, 64)));
        session.add_chunk(std::string(bytes.substr(0, n)), other_statuses && t.chance(30) ? 0x3FFF0005 : status_count_reached);
        bytes.remove_prefix(n);
    }
    session.add_chunk(std::string(bytes), t.pick({status_end, status_termination_character}));
}

// The read, its result checked for form, then what a ReadString finds of the message after it.
std::wstring read(trial& t, IFormattedIO488* io, const request& r)
{
    clear_thread_error();
    unique_variant value;
    HRESULT hr = S_OK;
    switch (r.kind) {
    case read_kind::string: hr = io->ReadString(&V_BSTR(value.get())), V_VT(value.get()) = VT_BSTR; break;
    case read_kind::number: hr = io->ReadNumber(number_type(r.code), r.flush, value.get()); break;
    case read_kind::list: hr = io->ReadList(number_type(r.code), bstr(r.separators).get(), value.get()); break;
    case read_kind::block: hr = io->ReadIEEEBlock(number_type(r.code), r.seek, r.flush, value.get()); break;
    }
    const bool empty = V_VT(value.get()) == VT_EMPTY, number = V_VT(value.get()) == VT_R8;
    t.expect(r.kind == read_kind::string || (FAILED(hr) ? empty
                                             : r.kind == read_kind::number ? number
                                             : (r.kind == read_kind::block && empty) || well_formed_array(*value, static_cast<VARTYPE>(r.code))),
             L"a malformed result " + value_text(*value));
    std::wstring text = result_text(hr, *value);
    BSTR rest = nullptr;
    hr = io->ReadString(&rest);
    const unique_bstr owned(rest);
    return text + L" | " + outcome(hr) + L" " + std::wstring(bstr_view(rest));
}

// Whether a failure is one that the read names.
bool named_failure(const request& r, const std::wstring& result)
{
    const std::wstring failure = result.substr(0, result.find(L" 0 | "));
    std::vector<std::wstring> named = {no_number(), not_parsed()};
    if (r.kind == read_kind::block)
        named = {outcome(E_UNEXPECTED), component_failure(E_FORMATTEDIO_DATA, L"The Safearray cannot be converted to the desired type.", 1024),
                 component_failure(E_FORMATTEDIO_DATA, L"No binary block was found in the input stream.", 1019),
                 component_failure(E_FORMATTEDIO_DATA, L"The amount of data retrieved before the end of input was less than the specified size of the binary block.", 1020)};
    for (int n = 1; r.kind == read_kind::list && n < 100; ++n)
        named.push_back(r.code == VT_VARIANT ? terminated() : item_failure(n, r.code == VT_R4 || r.code == VT_R8));
    return std::ranges::find(named, failure) != named.end();
}

// ReadString and string lists take the response as it is, split on the separators for a list.
std::wstring whole_response(const request& r, const std::string& bytes)
{
    if (r.kind == read_kind::string)
        return L"8:" + ansi(bytes);
    const std::string separators = (r.separators.empty() ? std::string(",;") : to_ansi(r.separators)) + "\n";
    std::wstring items;
    long count = 0;
    for (std::size_t begin = 0, end = 0; begin <= bytes.size(); begin = end + 1) {
        end = std::min(bytes.find_first_of(separators, begin), bytes.size());
        if (end > begin)
            ++count, items += L" 8:" + ansi(bytes.substr(begin, std::min(end, bytes.find('\0', begin)) - begin));
    }
    return std::to_wstring(VT_ARRAY | VT_BSTR) + L"[0.." + std::to_wstring(count - 1) + L"]" + items;
}

} // namespace

void malformed_responses(trial& t)
{
    const read_kind kind = t.pick({read_kind::string, read_kind::number, read_kind::list, read_kind::block});
    const request r{kind, kind == read_kind::list ? t.pick<long>({2, 3, 4, 5, 8, 12, 17}) : t.pick<long>({2, 3, 4, 5, 17}),
                    t.pick<std::wstring>({L"", L",", L";", L";:", L",;"}), t.chance(50), t.chance(50),
                    t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE, 1})};
    std::string& bytes = t.input;
    std::wstring values = valid_response(t, r, bytes);
    if (t.chance(10)) {
        bytes.resize(static_cast<std::size_t>(t.between(0, 300)));
        for (char& byte : bytes)
            byte = static_cast<char>(t.between(0, 255));
        values.clear();
    }
    if (t.chance(70))
        mutate(t, bytes), values.clear();
    // Once in one chunk with the default buffer, once chunked with a random input buffer size;
    // blocks are read with Read counts that a session over an instrument fills across chunks.
    std::wstring results[2];
    for (int chunked = 0; chunked < 2; ++chunked) {
        scripted_session session;
        session.guard_reads(true);
        session.join_chunks(r.kind == read_kind::block);
        com_ptr<IFormattedIO488> io = make_fmtdio();
        io->putref_IO(&session);
        io->put_InstrumentBigEndian(r.big_endian);
        if (chunked) {
            io->SetBufferSize(BufferMask_Input, t.pick<long>({1, 2, 3, 7, 16, 64, 1000}));
            script(t, session, bytes, r.kind != read_kind::list || r.code == VT_BSTR);
        } else {
            session.respond(bytes);
        }
        results[chunked] = read(t, io.Get(), r);
        if (chunked)
            expect_exchange(t, io.Get(), session);
        io.Reset();
        t.expect(session.references() == 0, L"session references kept");
    }
    const std::wstring& result = results[0];
    t.expect_equal(results[1], result, L"chunked and whole");
    const std::wstring ok = outcome(S_OK) + L" ";
    const std::wstring value = result.starts_with(ok) ? result.substr(ok.size()) : result;
    if (r.kind == read_kind::string || (r.kind == read_kind::list && r.code == VT_BSTR))
        t.expect_equal(value.substr(0, value.find(L" | ")), whole_response(r, bytes), L"the response as it is");
    else if (!values.empty())
        t.expect_equal(value.substr(0, value.find(L" | ")), values, L"the values");
    else
        t.expect(result.starts_with(ok) || named_failure(r, result), L"a failure that the read does not name: " + result);
}

} // namespace morvane::campaigns
