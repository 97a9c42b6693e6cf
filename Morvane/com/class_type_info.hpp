#pragma once
// The type information behind IProvideClassInfo::GetClassInfo. Objects below the module's top
// ask for it here; the module's top defines it from the type library that the module carries.
#include <oaidl.h>

namespace morvane {

// The type information of FmtdIOCls, loaded once and kept until the module unloads.
HRESULT class_type_info(ITypeInfo** type_info) noexcept;

} // namespace morvane
