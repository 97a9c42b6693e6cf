// The message table, every text byte for byte, and formatting with positional inserts at a
// line width of 80.
#include <gtest/gtest.h>
#include <windows.h>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>
#include "error/resource_string.hpp"

namespace morvane {
namespace {

TEST(MessageTable, EveryTextByteForByte)
{
    const std::pair<UINT, std::string> rows[] = {
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
    for (const auto& [number, text] : rows) {
        SCOPED_TRACE(number);
        resource_string message(number);
        ASSERT_NE(message.narrow(), nullptr);
        EXPECT_EQ(message.narrow(), text);
        EXPECT_EQ(message.wide(), std::wstring(text.begin(), text.end()));
    }
}

// The words of a text, with white space of any kind between them.
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
