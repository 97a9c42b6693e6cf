#pragma once
// Resource numbers shared by Morvane.rc and the code that reads the resources.

// The type library, as the platform's type-library loader looks for it.
#define MORVANE_TYPELIB_RESOURCE 1
// The registry script of FmtdIOCls, resource type "REGISTRY".
#define MORVANE_FMTDIO_REGISTRY_SCRIPT 101
