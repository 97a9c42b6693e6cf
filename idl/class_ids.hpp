#pragma once
// Identity of the component's class and of its own type library: the one place that spells
// them, for the module, the tools that build and register the library, and the clients.
#include <windows.h>
#include <oaidl.h>

namespace morvane {

// FmtdIOCls, "VISA.Tellurix"
inline constexpr CLSID CLSID_FmtdIOCls = {0xdb8cbf1d, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
// TELLURIXLib 5.5, carried by the module as resource "TYPELIB" 1
inline constexpr GUID LIBID_TELLURIXLib = {
    0x709f7ec2, 0xab81, 0x11d4, {0x98, 0xe6, 0x00, 0x10, 0x83, 0x01, 0xcb, 0x39}};
inline constexpr WORD tellurixlib_major = 5;
inline constexpr WORD tellurixlib_minor = 5;

} // namespace morvane
