#pragma once
// Whole files, named in UTF-8; a failure names the file.
#include <string>
#include <string_view>
#include <vector>

namespace fmtio {

void write_file(const std::string& path, std::string_view content);
std::vector<unsigned char> read_file(const std::string& path);

} // namespace fmtio
