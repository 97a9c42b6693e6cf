// Formatting messages with positional inserts at a line width of 80.
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include "error/resource_string.hpp"

namespace morvane {
namespace {

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST(ResourceString, FormatBreaksLinesAt80)
{
    resource_string coercion(2008);
    const std::pair<UINT, std::string> rows[] = {
        {125, "Unexpected I/O termination or couldn't convert list item # 3 to long/integer/byte format"},
        {123, "While attempting to convert element 7 of array to the desired data format, this error occurred: "
              "\"The variant argument could not be coerced to the desired type.\"."},
    };
    for (const auto& [number, unbroken] : rows) {
        SCOPED_TRACE(number);
        resource_string message(number);
        number == 123 ? message.format(80, 7, coercion.narrow()) : message.format(80, 3);
        ASSERT_NE(message.narrow(), nullptr);
        const std::string text = message.narrow();
        EXPECT_EQ(message.wide(), std::wstring(text.begin(), text.end()));
        for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 2) {
            const std::string line = text.substr(start, (end = text.find("\r\n", start)) - start);
            EXPECT_LE(line.size(), 80u) << line;
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line; // every break is CR LF
        }
        EXPECT_EQ(words(text), words(unbroken)); // broken at white space only, no word changed
    }
}

} // namespace
} // namespace morvane
