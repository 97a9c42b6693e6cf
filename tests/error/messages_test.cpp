// The message table and resource_string: every text byte for byte, loading, fallback and
// formatting with positional inserts at a line width of 80.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "error/resource_string.hpp"

namespace morvane {
namespace {

std::wstring widen(const std::string& ascii)
{
    return {ascii.begin(), ascii.end()};
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

// The lines joined again with single spaces: equal to the unbroken text exactly when every
// break fell on white space and no word was changed.
std::string unbroken(const std::vector<std::string>& lines)
{
    std::string joined;
    for (const std::string& line : lines) {
        const std::size_t first = line.find_first_not_of(' ');
        const std::size_t last = line.find_last_not_of(' ');
        if (first == std::string::npos)
            continue;
        if (!joined.empty())
            joined += ' ';
        joined += line.substr(first, last - first + 1);
    }
    return joined;
}

TEST(MessageTable, EveryTextByteForByte)
{
    const struct {
        UINT number;
        const char* text;
    } rows[] = {
        {101, "The Binary Block provided is too large for the IEEE block format."},
        {103, "No binary block was found in the input stream."},
        {104, "The amount of data retrieved before the end of input was less than the specified size of the binary block."},
        {106, "The Safearray cannot be converted to the desired type."},
        {107, "IEEE binary blocks cannot be of the type provided in the array argument."},
        {108, "Expected VARIANT argument to be a single number, not an array."},
        {109, "The VARIANT argument could not be coerced to a valid numeric format."},
        {110, "The NumberType argument was not a recognized enumeration value."},
        {111, "The Array argument was multidimensional."},
        {112, "No valid COM I/O resource available, set the IO property to a valid COM I/O resource."},
        {113, "WriteList expected an array argument to write."},
        {115, "An attempt was made to send an END signal on an empty buffer."},
        {116, "The list separator character parameter must be a string containing a single character."},
        {117, "visacom.chm"},
        {118, "Tellurix"},
        {120, "The Buffer's size must be greater than zero."},
        {121, "Could not allocate the requested buffer size."},
        {123, "While attempting to convert element %1!d! of array to the desired data format, this error occurred: \"%2!s!\"."},
        {125, "Unexpected I/O termination or couldn't convert list item # %1!d! to long/integer/byte format"},
        {126, "Unexpected I/O termination or couldn't convert list item # %1!d! to floating point format"},
        {128, "Unexpected I/O data termination"},
        {129, "Couldn't interpret I/O data as single number."},
        {130, "Could not parse I/O data"},
        {2003, "Bad Array Argument"},
        {2004, "The system cannot allocate enough memory to complete the operation."},
        {2005, "Bad Pointer."},
        {2008, "The variant argument could not be coerced to the desired type."},
        {2009, "An internal error occurred.  Please contact your I/O vendor."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.number);
        resource_string message(row.number);
        EXPECT_FALSE(message.loaded());
        ASSERT_NE(message.narrow(), nullptr);
        EXPECT_TRUE(message.loaded());
        EXPECT_EQ(std::string(message.narrow()), row.text);
        EXPECT_EQ(std::wstring(message.wide()), widen(row.text));
    }
}

TEST(ResourceString, MissingNumberAndFallback)
{
    resource_string missing(9999);
    EXPECT_EQ(missing.narrow(), nullptr);
    EXPECT_EQ(missing.wide(), nullptr);
    EXPECT_FALSE(missing.loaded());
    missing.format(80, 3);
    EXPECT_EQ(missing.narrow(), nullptr);

    resource_string with_fallback(9999, 2005);
    ASSERT_NE(with_fallback.narrow(), nullptr);
    EXPECT_STREQ(with_fallback.narrow(), "Bad Pointer.");

    resource_string present(2005, 2009); // the fallback only when the number is missing
    EXPECT_STREQ(present.narrow(), "Bad Pointer.");
}

TEST(ResourceString, FormatAtWidth80)
{
    resource_string variant_failure(2008);
    const std::string inner = variant_failure.narrow();

    const struct {
        UINT number;
        int inserts;
        int item;
        const char* inner;
        std::string expected;  // the formatted text before line breaking
        std::size_t lines;
    } rows[] = {
        {125, 1, 3, nullptr, "Unexpected I/O termination or couldn't convert list item # 3 to long/integer/byte format", 2},
        {126, 1, 12, nullptr, "Unexpected I/O termination or couldn't convert list item # 12 to floating point format", 2},
        {123, 2, 7, inner.c_str(),
         "While attempting to convert element 7 of array to the desired data format, this error occurred: "
         "\"The variant argument could not be coerced to the desired type.\".",
         3},
        {128, 0, 0, nullptr, "Unexpected I/O data termination", 1}, // formatted all the same
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.number);
        resource_string message(row.number);
        if (row.inserts == 2)
            message.format(80, row.item, row.inner);
        else if (row.inserts == 1)
            message.format(80, row.item);
        else
            message.format(80);
        ASSERT_NE(message.narrow(), nullptr);
        const std::string text = message.narrow();
        EXPECT_EQ(std::wstring(message.wide()), widen(text));

        const std::vector<std::string> lines = lines_of(text);
        EXPECT_EQ(lines.size(), row.lines) << text;
        for (const std::string& line : lines)
            EXPECT_LE(line.size(), 80u) << line;
        EXPECT_EQ(unbroken(lines), row.expected);
    }
}

} // namespace
} // namespace morvane
