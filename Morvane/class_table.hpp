#pragma once
// The creatable classes of the module. Serving another class means adding a row to the
// table in class_table.cpp: its CLSID, the resource number of its registry script (which
// names the CLSID as %CLSID%) and its instance creator.
#include <windows.h>
#include <unknwn.h>
#include <atomic>
#include <span>
#include "com/class_factory.hpp"

namespace morvane {

struct class_entry {
    const CLSID* clsid;
    UINT registry_script;           // resource of type "REGISTRY"
    instance_creator create_instance;
    // Null until first requested; then the class object, with the module's one reference.
    std::atomic<IUnknown*> class_object = nullptr;
};

std::span<class_entry> class_table() noexcept;

// DllGetClassObject: the cached class object of clsid, queried for riid.
HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** out) noexcept;

// Module unload: every cached class object is released and forgotten.
void release_class_objects() noexcept;

} // namespace morvane
