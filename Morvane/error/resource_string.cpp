#include "error/resource_string.hpp"

#include "platform/ansi.hpp"
#include "platform/this_module.hpp"

namespace morvane {

void resource_string::load()
{
    if (m_loaded)
        return;
    char text[260];
    int length = LoadStringA(this_module(), m_number, text, sizeof text);
    if (length <= 0 && m_fallback != no_fallback)
        length = LoadStringA(this_module(), m_fallback, text, sizeof text);
    if (length > 0)
        store(text);
}

void resource_string::store(const char* narrow_text)
{
    m_wide = from_ansi(narrow_text);
    m_narrow.reset();
    m_loaded = true;
}

const wchar_t* resource_string::wide()
{
    load();
    return m_wide ? m_wide->c_str() : nullptr;
}

const char* resource_string::narrow()
{
    load();
    if (!m_wide)
        return nullptr;
    if (!m_narrow)
        m_narrow = to_ansi(*m_wide);
    return m_narrow->c_str();
}

void resource_string::format_with(unsigned max_width, const DWORD_PTR* arguments)
{
    const char* pattern = narrow();
    if (!pattern)
        return;
    char* formatted = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                        (max_width & FORMAT_MESSAGE_MAX_WIDTH_MASK);
    const DWORD length = FormatMessageA(flags, pattern, 0, 0, reinterpret_cast<LPSTR>(&formatted), 0,
                                        reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    store(length ? formatted : "");
    LocalFree(formatted);
}

} // namespace morvane
