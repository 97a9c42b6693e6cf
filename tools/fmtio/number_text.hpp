#pragma once
// Numbers as text: the shortest form that reads back to the same value, with "." whatever
// the locale, so that nothing of the value is lost on the way to the user.
#include <windows.h>
#include <oaidl.h>
#include <string>

namespace fmtio {

std::string number_text(double value);
std::string number_text(float value);
std::string number_text(long long value);
// With `digits` significant digits at most, for labels.
std::string rounded_text(double value, int digits);

// A single value of any automation type; a value that is no number goes through the
// platform's conversion to text.
std::string variant_text(const VARIANT& value);
// The value as a double: NaN when it is no number.
double variant_number(const VARIANT& value);

} // namespace fmtio
