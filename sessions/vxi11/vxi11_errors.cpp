#include "vxi11/vxi11_errors.hpp"

#include "session_codes.hpp"

namespace morvane::vxi11 {
namespace {

const wchar_t* name_of(std::int32_t code)
{
    switch (code) {
    case 1: return L"syntax error";
    case 3: return L"device not accessible";
    case 4: return L"invalid link identifier";
    case 5: return L"parameter error";
    case 6: return L"channel not established";
    case 8: return L"operation not supported";
    case 9: return L"out of resources";
    case 11: return L"device locked by another link";
    case 12: return L"no lock held by this link";
    case 15: return L"I/O timeout";
    case 17: return L"I/O error";
    case 21: return L"invalid address";
    case 23: return L"abort";
    case 29: return L"channel already established";
    default: return L"unknown error";
    }
}

} // namespace

mapped_error map_device_error(std::int32_t code)
{
    mapped_error mapped{device_error_reported, false,
                        L"The device reported VXI-11 error " + std::to_wstring(code) + L" (" + name_of(code) + L")."};
    switch (code) {
    case 15:
        mapped.hr = session::timeout_expired;
        break;
    case 3:
    case 21:
        mapped.hr = session::resource_not_found;
        break;
    case 4:
    case 17:
    case 23:
        mapped.hr = session::connection_lost;
        mapped.link_lost = true;
        break;
    default:
        break;
    }
    return mapped;
}

} // namespace morvane::vxi11
