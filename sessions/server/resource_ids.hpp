#pragma once
// Resource numbers shared by MorvaneSessions.rc and the code that reads the resources.

// The type library, as the platform's type-library loader looks for it.
#define MORVANE_SESSIONS_TYPELIB_RESOURCE 1
// The registry script of the resource manager, resource type "REGISTRY".
#define MORVANE_RESOURCE_MANAGER_REGISTRY_SCRIPT 101
