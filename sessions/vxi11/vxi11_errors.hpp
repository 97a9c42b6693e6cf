#pragma once
// The VXI-11 core channel's error codes as the session reports them: an HRESULT, a text that
// names the error, and whether the link is gone with it.
#include <windows.h>
#include <cstdint>
#include <string>

namespace morvane::vxi11 {

struct mapped_error {
    HRESULT hr;
    bool link_lost; // every later call fails at once
    std::wstring text;
};

// `code`: the error field of a core result, not 0.
mapped_error map_device_error(std::int32_t code);

} // namespace morvane::vxi11
