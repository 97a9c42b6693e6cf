#include "error/resource_string.hpp"

#include "platform/ansi.hpp"
#include "platform/this_module.hpp"

namespace morvane {

void resource_string::load()
{
    if (loaded_)
        return;
    char text[260];
    int length = LoadStringA(this_module(), number_, text, sizeof text);
    if (length <= 0 && fallback_ != no_fallback)
        length = LoadStringA(this_module(), fallback_, text, sizeof text);
    if (length > 0)
        store(text);
}

void resource_string::store(const char* narrow_text)
{
    wide_ = from_ansi(narrow_text);
    narrow_.reset();
    loaded_ = true;
}

const wchar_t* resource_string::wide()
{
    load();
    return wide_ ? wide_->c_str() : nullptr;
}

const char* resource_string::narrow()
{
    load();
    if (!wide_)
        return nullptr;
    if (!narrow_)
        narrow_ = to_ansi(*wide_);
    return narrow_->c_str();
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
