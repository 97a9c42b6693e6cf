#include "platform/module_path.hpp"

#include <new>

namespace morvane {

HRESULT module_file_name(HMODULE module, std::wstring& path) noexcept
{
    try {
        // A file name that fills the buffer may have been cut short: try again with more room.
        std::wstring name(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
            if (length == 0)
                return HRESULT_FROM_WIN32(GetLastError());
            if (length < name.size()) {
                name.resize(length);
                path = std::move(name);
                return S_OK;
            }
            name.resize(name.size() * 2);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace morvane
