#include "class_table.hpp"

#include "class_ids.hpp"
#include "object/fmtdio.hpp"
#include "resource_ids.hpp"

namespace morvane {
namespace {

class_entry classes[] = {
    {&CLSID_FmtdIOCls, MORVANE_FMTDIO_REGISTRY_SCRIPT, &create_object<CFmtdIOCls>},
};

} // namespace

std::span<class_entry> class_table() noexcept { return classes; }

} // namespace morvane
