// ReadList: one list response as an array of the requested element type. Strings are split on
// the separators as they come; the other types go through the response parser.
#include "parse/list_reading.hpp"

#include <cstring>
#include "error/errors.hpp"
#include "format/arguments.hpp"
#include "format/ieee488_formatter.hpp"
#include "parse/formattedio_parse.hpp"
#include "platform/ansi.hpp"

namespace morvane {
namespace {

int list_kind(VARTYPE type) noexcept
{
    switch (type) {
    case VT_UI1: return read_kind::byte_list;
    case VT_I2: return read_kind::short_list;
    case VT_I4: return read_kind::long_list;
    case VT_R4: return read_kind::float_list;
    case VT_R8: return read_kind::double_list;
    default: return read_kind::any_list;
    }
}

// Items between separators or line feeds, to the end of the response; empty items are skipped.
class string_splitter final : public message_sink {
public:
    string_splitter(const std::string& separators, parsed_values& items) : m_items(items)
    {
        m_ends_item['\n'] = true;
        for (const char separator : separators)
            m_ends_item[static_cast<unsigned char>(separator)] = true;
    }
    void take(std::span<const unsigned char> bytes) override
    {
        for (const unsigned char byte : bytes) {
            if (m_ends_item[byte])
                finish();
            else
                m_item.push_back(static_cast<char>(byte));
        }
    }
    void take(unique_safearray chunk, std::size_t count) override
    {
        const safearray_data data(chunk.get());
        take({data.bytes(), count});
    }
    void finish()
    {
        if (m_item.empty())
            return;
        BSTR text = ansi_to_bstr(std::string_view(m_item).substr(0, m_item.find('\0'))).release();
        m_items.push(text);
        m_item.clear();
    }

private:
    bool m_ends_item[256] = {};
    std::string m_item;
    parsed_values& m_items;
};

// One list response from `in`, in the element type; the rest of a response whose list ended at
// a line feed is dropped. Nothing is read from a stream that is not good.
void read_list(ieee488_formatter& list, basic_comistream& in)
{
    list.start_reading(in, list.type());
    if (!in.good())
        return;
    if (list.type() == VT_BSTR) {
        string_splitter splitter(list.separators(), list.parsed());
        in.read_message(splitter);
        splitter.finish(); // the end of the data, also where the session failed
        return;
    }
    formattedio_parse parser(&list);
    parser.parse(list_kind(list.type()), list.separators().c_str());
    // The list ended at a line feed: the rest of the response is not for anyone.
    if (in.good())
        in.sync();
}

} // namespace

void read_list(basic_comistream& in, std::uint32_t type, BSTR separators, block_pool& blocks, VARIANT& data)
{
    const VARTYPE code = element_code(type, E_FORMATTEDIO_DATA);
    // The separators end at their first NUL, which may leave none.
    std::string separator_set = SysStringLen(separators) ? to_ansi(bstr_view(separators)) : ",;";
    separator_set.resize(std::strlen(separator_set.c_str()));
    ieee488_formatter list(std::move(separator_set), code, &blocks);
    read_list(list, in);
    list.store_array(data);
}

} // namespace morvane
