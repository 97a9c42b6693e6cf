#pragma once
// The values that every error record of the component shares, set once at module load.
#include <string>
#include "error/resource_string.hpp"

namespace morvane {

// Message 118, "Tellurix": the source of every record.
extern resource_string error_source;
// Full path of "visacom.chm": the help file of every record.
extern std::wstring help_file_path;

// Loads error_source and builds help_file_path; throws std::bad_alloc when memory runs out.
void initialize_error_values();

} // namespace morvane
