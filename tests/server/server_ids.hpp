#pragma once
// The identities a client knows the component by, written out here rather than taken from
// the component's sources, so a wrong value there cannot agree with itself.
#include <windows.h>

namespace server_tests {

inline constexpr CLSID clsid_fmtdio = {0xdb8cbf1d, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
inline constexpr GUID libid_tellurix = {0x709f7ec2, 0xab81, 0x11d4, {0x98, 0xe6, 0x00, 0x10, 0x83, 0x01, 0xcb, 0x39}};
inline constexpr GUID libid_standard = {0xdb8cbf00, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
inline constexpr IID iid_formatted_io = {0xdb8cbf1a, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};

inline constexpr const wchar_t* clsid_text = L"{db8cbf1d-d6d3-11d4-aa51-00a024ee30bd}";
inline constexpr const wchar_t* class_key = L"CLSID\\{db8cbf1d-d6d3-11d4-aa51-00a024ee30bd}";
inline constexpr const wchar_t* typelib_key = L"TypeLib\\{709F7EC2-AB81-11D4-98E6-00108301CB39}";
inline constexpr const wchar_t* standard_typelib_key = L"TypeLib\\{DB8CBF00-D6D3-11D4-AA51-00A024EE30BD}";
inline constexpr const wchar_t* class_name = L"VISA COM I/O Tellurix Class";
inline constexpr const wchar_t* library_help = L"VISA COM 488.2 Formatted I/O 5.5";

} // namespace server_tests
