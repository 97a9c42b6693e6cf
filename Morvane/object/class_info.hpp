#pragma once
// The cached class type information behind IProvideClassInfo2::GetClassInfo, loaded from the
// type library that the module carries.
#include <oaidl.h>

namespace morvane {

// The type information of FmtdIOCls, loaded once and kept until the module unloads.
HRESULT class_type_info(ITypeInfo** type_info) noexcept;

// Drops the cached type information; the module does this when it unloads.
void release_class_type_info() noexcept;

} // namespace morvane
