// Malformed responses: valid lists, numbers and blocks, mutated or random bytes, read by a random
// read method, once whole and once in random chunks with random statuses and buffer size, from
// arrays before a page with no access. Both readings must agree, the rest of the message
// included; strings and string lists are the bytes as they are, valid responses give their
// values, results are well formed, failures are ones that reads name, and the object still works.
#include "campaigns/campaign.hpp"
#include "platform/ansi.hpp"

namespace morvane::campaigns {
namespace {

enum read_kind { string_read, number_read, list_read, block_read };

// A valid response and its values as a result shows them: a block of random elements, or items
// that every type holds, integers up to 255 or quarters, in the forms a response may use.
std::wstring valid_response(trial& t, read_kind kind, VARTYPE type, const std::string& separators, bool seek, bool big_endian, std::string& bytes)
{
    const std::size_t size = type == VT_UI1 ? 1 : type == VT_I2 ? 2 : type == VT_R8 ? 8 : 4;
    const long count = static_cast<long>(kind == block_read ? t.between(0, 12) : kind == list_read ? t.between(1, 6) : 1);
    for (long skipped = kind == block_read && seek ? static_cast<long>(t.between(0, 4)) : 0; skipped > 0; --skipped)
        bytes += t.pick({'1', ',', '\n', ' '});
    bytes += kind == block_read ? "#" + std::to_string(std::to_string(count * size).size()) + std::to_string(count * size) : "";
    std::wstring values;
    for (long i = 0; i < count; ++i) {
        unique_variant value;
        const long n = static_cast<long>(t.between(0, 1020));
        const bool integer = kind == block_read || type == VT_I2 || type == VT_I4 || type == VT_UI1 || t.chance(40);
        bytes += kind == block_read ? "" : i ? std::string(1, separators[t.between(0, std::ssize(separators) - 1)]) : "";
        bytes += kind == block_read ? "" : integer ? t.pick<std::string>({"", " ", "+"}) + std::to_string(n / 4) + t.pick<std::string>({"", " "})
                                       : t.chance(50) ? std::to_string(n / 4) + "." + std::to_string(n % 4 * 25) : std::to_string(n * 25) + "e-2";
        V_VT(value.get()) = VT_R8, V_R8(value.get()) = integer ? n / 4 : n / 4.0;
        VariantChangeTypeEx(value.get(), value.get(), 1033, 0, type == VT_VARIANT || kind == number_read ? VARTYPE(integer ? VT_I4 : VT_R8) : type);
        for (std::size_t k = 0; kind == block_read && k < size; ++k)
            bytes += static_cast<char>(t.between(0, 255)), reinterpret_cast<char*>(&value.get()->llVal)[big_endian ? size - 1 - k : k] = bytes.back();
        values += L" " + value_text(*value);
    }
    bytes += kind == number_read ? t.pick<std::string>({"", "\n", ",7\n", " V\n"}) : t.pick<std::string>({"", "\n", "\n9\n"});
    return kind == number_read ? L"5:" + values.substr(values.find(L':') + 1)
           : count ? std::to_wstring(VT_ARRAY | type) + L"[0.." + std::to_wstring(count - 1) + L"]" + values : L"0";
}

void mutate(trial& t, std::string& bytes)
{
    for (long n = static_cast<long>(t.between(1, 4)); n > 0; --n) {
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
}

} // namespace

void malformed_responses(trial& t)
{
    const read_kind kind = t.pick({string_read, number_read, list_read, block_read});
    const VARTYPE type = kind == list_read ? t.pick<VARTYPE>({2, 3, 4, 5, 8, 12, 17}) : t.pick<VARTYPE>({2, 3, 4, 5, 17});
    const std::wstring separators = t.pick<std::wstring>({L"", L",", L";", L";:", L",;"});
    const std::string separator_bytes = separators.empty() ? ",;" : to_ansi(separators);
    const bool seek = t.chance(50), flush = t.chance(50);
    const VARIANT_BOOL big_endian = t.pick<VARIANT_BOOL>({VARIANT_TRUE, VARIANT_FALSE, 1});
    std::string& bytes = t.input;
    std::wstring values = valid_response(t, kind, type, separator_bytes, seek, big_endian, bytes);
    if (t.chance(10))
        values.clear(), bytes.resize(static_cast<std::size_t>(t.between(0, 300))), std::ranges::generate(bytes, [&] { return static_cast<char>(t.between(0, 255)); });
    if (t.chance(70))
        values.clear(), mutate(t, bytes);
    // Whole with the default buffer, then chunked with any buffer size. A block's Read counts are
    // filled across chunks, as a session over an instrument fills them.
    std::wstring results[2];
    for (const bool chunked : {false, true}) {
        scripted_session session;
        session.guard_reads(true), session.join_chunks(kind == block_read);
        com_ptr<IFormattedIO488> io = make_fmtdio();
        io->putref_IO(&session), io->put_InstrumentBigEndian(big_endian), io->SetBufferSize(BufferMask_Input, chunked ? t.pick<long>({1, 2, 3, 7, 16, 64, 1000}) : 1000);
        std::string_view rest = bytes;
        for (std::size_t n; chunked && rest.size() > 1 && t.chance(85); rest.remove_prefix(n)) {
            n = static_cast<std::size_t>(t.between(1, std::min<long long>(std::ssize(rest) - 1, 64)));
            const bool other_status = (kind != list_read || type == VT_BSTR) && t.chance(30); // a list ends at any other status
            session.add_chunk(std::string(rest.substr(0, n)), other_status ? 0x3FFF0005 : status_count_reached);
        }
        session.add_chunk(std::string(rest), t.pick({status_end, status_termination_character}));
        unique_variant value;
        V_VT(value.get()) = kind == string_read ? VT_BSTR : VT_EMPTY;
        const HRESULT hr = kind == string_read ? io->ReadString(&V_BSTR(value.get()))
                           : kind == number_read ? io->ReadNumber(enum_bits(type), flush, value.get())
                           : kind == list_read ? io->ReadList(enum_bits(type), bstr(separators).get(), value.get())
                                               : io->ReadIEEEBlock(enum_bits(type), seek, flush, value.get());
        const VARTYPE got = V_VT(value.get());
        results[chunked] = result_text(hr, *value) + L" | ";
        BSTR after = nullptr;
        results[chunked] += outcome(io->ReadString(&after)) + L" ";
        results[chunked] += bstr_view(unique_bstr(after).get());
        t.expect(kind == string_read || ((FAILED(hr) || kind == block_read) && got == VT_EMPTY) ||
                     (SUCCEEDED(hr) && (kind == number_read ? got == VT_R8 : well_formed_array(*value, type))),
                 L"a malformed result " + results[chunked]);
        if (chunked)
            expect_exchange(t, io.Get(), session);
    }
    t.expect(results[1] == results[0], L"chunked and whole differ:\n  " + results[1] + L"\n  " + results[0]);
    // Strings and string lists take the bytes as they are, a string item up to a NUL.
    const std::wstring value = results[0].substr(0, results[0].find(L" | ")), ok = outcome(S_OK) + L" ";
    std::wstring items;
    long count = 0;
    for (std::size_t begin = 0, end = 0; kind == list_read && begin <= bytes.size(); begin = end + 1) {
        end = std::min(bytes.find_first_of(separator_bytes + "\n", begin), bytes.size());
        if (end > begin)
            items += L" 8:" + from_ansi(bytes.substr(begin, std::min(end, bytes.find('\0', begin)) - begin)), ++count;
    }
    if (kind == string_read || (kind == list_read && type == VT_BSTR))
        values = kind == string_read ? L"8:" + from_ansi(bytes) : std::to_wstring(VT_ARRAY | VT_BSTR) + L"[0.." + std::to_wstring(count - 1) + L"]" + items;
    t.expect(values.empty() ? value.starts_with(ok) || own_failure(value.substr(0, value.rfind(L" 0")), {1019, 1020, 1024, 1034, 1049}) ||
                                  (kind == block_read && value == outcome(E_UNEXPECTED) + L" 0")
                            : value == ok + values,
             L"not the value wanted, or a failure that reads do not name: " + value + L"\n  wanted: " + values);
}

} // namespace morvane::campaigns
