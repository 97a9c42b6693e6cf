#pragma once
// Element types as --type names them, and the arrays that lists and blocks travel in.
#include <windows.h>
#include <oaidl.h>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#include <visacom.h>
#include "platform/safearray.hpp"

namespace fmtio {

enum class element_type { i2, i4, r4, r8, str, any, ui1 };

// Throws usage_error for a name that is no type.
element_type parse_element_type(std::string_view name);
std::string type_name(element_type type);
NumberType number_type(element_type type);
// The types that a binary block holds: all but str and any.
bool is_block_type(element_type type);
std::size_t element_size(element_type type);

// The texts as an array of `type`: integers in range, reals that the type holds; any takes
// a number as a double and other text as a string. Throws usage_error naming a bad value.
morvane::unique_safearray make_array(element_type type, std::span<const std::string> texts);
// Bytes as elements of a block type, in this machine's (little-endian) order.
morvane::unique_safearray array_from_bytes(element_type type, std::span<const unsigned char> bytes);

// What a read returned, element by element: as text, and as numbers (NaN for text).
struct value_list {
    std::vector<std::string> texts;
    std::vector<double> numbers;
};
value_list read_values(const VARIANT& data);

} // namespace fmtio
