#include "serial/serial_ports.hpp"

#include <windows.h>
#include <algorithm>
#include "platform/unique_any.hpp"
#include "serial/serial_resource_name.hpp"

namespace morvane::serial {

std::vector<std::wstring> serial_resources()
{
    unique_any<HKEY, &RegCloseKey> key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return {};
    std::vector<unsigned> ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256], data[64];
        DWORD name_size = std::size(name), data_size = sizeof data - sizeof(wchar_t), type = 0;
        const LONG result = RegEnumValueW(key.get(), index, name, &name_size, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &data_size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue; // a value too long for a port's name is none
        data[data_size / sizeof(wchar_t)] = L'\0';
        const std::wstring port(data);
        // COM<n> is ASRL<n>: the resource name's parser says which n are ports.
        if (port.size() > 3 && _wcsnicmp(port.c_str(), L"COM", 3) == 0)
            if (const auto address = parse_serial_resource_name(L"ASRL" + port.substr(3)))
                ports.push_back(address->port);
    }
    std::ranges::sort(ports);
    const auto [first, last] = std::ranges::unique(ports);
    ports.erase(first, last);
    std::vector<std::wstring> names;
    for (const unsigned port : ports)
        names.push_back(L"ASRL" + std::to_wstring(port) + L"::INSTR");
    return names;
}

} // namespace morvane::serial
