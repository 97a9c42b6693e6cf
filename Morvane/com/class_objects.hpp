#pragma once
// The class objects of a module's creatable classes. A module lists its classes in a table
// of its own (its CLSID, the resource number of its registry script, which names the CLSID
// as %CLSID%, and its instance creator); the class objects are created on first request and
// cached in the table, which holds one reference to each for the module.
#include <windows.h>
#include <unknwn.h>
#include <atomic>
#include <span>
#include "com/class_factory.hpp"

namespace morvane {

struct class_entry {
    const CLSID* clsid;
    UINT registry_script; // resource of type "REGISTRY"
    instance_creator create_instance;
    // Null until first requested; then the class object, with the module's one reference.
    std::atomic<IUnknown*> class_object = nullptr;
};

// DllGetClassObject: the cached class object of clsid, queried for riid.
HRESULT get_class_object(std::span<class_entry> table, REFCLSID clsid, REFIID riid, void** out) noexcept;

// Module unload: every cached class object is released and forgotten.
void release_class_objects(std::span<class_entry> table) noexcept;

} // namespace morvane
