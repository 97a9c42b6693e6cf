#pragma once
// The component's own HRESULT, for the component and for the clients that tell it apart.
#include <windows.h>

namespace morvane {

// Data that cannot be parsed, converted or framed.
inline constexpr HRESULT E_FORMATTEDIO_DATA = static_cast<HRESULT>(0x80040041);

} // namespace morvane
