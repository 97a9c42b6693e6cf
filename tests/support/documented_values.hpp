#pragma once
// The documented values spelled out once: a test that reused the product's own constants could not catch a wrong one.
#include <windows.h>

namespace morvane::testing {

// LastStatus after a read, and the sessions' HRESULTs.
inline constexpr long status_end = 0;
inline constexpr long status_termination_character = 0x00040005;
inline constexpr long status_count_reached = 0x00040006;
inline constexpr HRESULT resource_not_found = static_cast<HRESULT>(0x80040011);
inline constexpr HRESULT invalid_resource = static_cast<HRESULT>(0x80040012);
inline constexpr HRESULT session_timeout = static_cast<HRESULT>(0x80040015);
inline constexpr HRESULT connection_lost = static_cast<HRESULT>(0x800400A6);
inline constexpr HRESULT message_too_long = static_cast<HRESULT>(0x800400C1);
// The component's own failure for data it cannot parse, convert or frame.
inline constexpr HRESULT data_failure = static_cast<HRESULT>(0x80040041);
inline constexpr HRESULT link_down = resource_not_found; // what a scripted failure gives

// FmtdIOCls, "VISA.Tellurix", as a GUID and as the registry writes it.
inline constexpr CLSID clsid_fmtdio = {0xdb8cbf1d, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
inline constexpr const wchar_t* clsid_fmtdio_text = L"{db8cbf1d-d6d3-11d4-aa51-00a024ee30bd}";

} // namespace morvane::testing
