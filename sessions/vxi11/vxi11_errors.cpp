#include "vxi11/vxi11_errors.hpp"

#include "session_codes.hpp"
#include "vxi11/vxi11_numbers.hpp"

namespace morvane::vxi11 {
namespace {

const wchar_t* name_of(device_error code)
{
    using enum device_error;
    switch (code) {
    case syntax: return L"syntax error";
    case not_accessible: return L"device not accessible";
    case invalid_link: return L"invalid link identifier";
    case parameter: return L"parameter error";
    case channel_not_established: return L"channel not established";
    case not_supported: return L"operation not supported";
    case out_of_resources: return L"out of resources";
    case locked_by_another: return L"device locked by another link";
    case no_lock_held: return L"no lock held by this link";
    case io_timeout: return L"I/O timeout";
    case io_error: return L"I/O error";
    case invalid_address: return L"invalid address";
    case abort: return L"abort";
    case channel_already_established: return L"channel already established";
    default: return L"unknown error";
    }
}

} // namespace

mapped_error map_device_error(std::int32_t code)
{
    mapped_error mapped{session::device_error_reported, false,
                        L"The device reported VXI-11 error " + std::to_wstring(code) + L" (" +
                            name_of(static_cast<device_error>(code)) + L")."};
    using enum device_error;
    switch (static_cast<device_error>(code)) {
    case io_timeout: mapped.hr = session::timeout_expired; break;
    case locked_by_another: mapped.hr = session::resource_locked; break;
    case no_lock_held: mapped.hr = session::not_locked; break;
    case not_accessible:
    case invalid_address: mapped.hr = session::resource_not_found; break;
    case invalid_link:
    case io_error:
    case abort:
        mapped.hr = session::connection_lost;
        mapped.link_lost = true;
        break;
    default: break;
    }
    return mapped;
}

} // namespace morvane::vxi11
