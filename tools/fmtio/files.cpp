#include "files.hpp"

#include <windows.h>
#include <algorithm>
#include <climits>
#include "failure.hpp"
#include "platform/unique_any.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

// Null when it holds none: a handle is only kept once CreateFile gave a valid one.
using file_handle = morvane::unique_any<HANDLE, &CloseHandle>;

file_handle open_file(const std::string& path, DWORD access, DWORD disposition)
{
    HANDLE handle = CreateFileW(to_wide(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw_last_error("CreateFile", "file " + quoted(path));
    return file_handle(handle);
}

} // namespace

void write_file(const std::string& path, std::string_view content)
{
    const file_handle file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
    DWORD written = 0;
    for (std::size_t at = 0; at < content.size(); at += written) {
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(content.size() - at, INT_MAX));
        if (!WriteFile(file.get(), content.data() + at, count, &written, nullptr) || written == 0)
            throw_last_error("WriteFile", "file " + quoted(path));
    }
}

std::vector<unsigned char> read_file(const std::string& path)
{
    const file_handle file = open_file(path, GENERIC_READ, OPEN_EXISTING);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        throw_last_error("GetFileSizeEx", "file " + quoted(path));
    if (size.QuadPart > INT_MAX)
        throw usage_error("file " + quoted(path) + " is too large for a block");
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    for (std::size_t at = 0; at < bytes.size(); at += read) {
        if (!ReadFile(file.get(), bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &read, nullptr))
            throw_last_error("ReadFile", "file " + quoted(path));
        if (read == 0) {
            bytes.resize(at); // the file shrank meanwhile
            break;
        }
    }
    return bytes;
}

} // namespace fmtio
