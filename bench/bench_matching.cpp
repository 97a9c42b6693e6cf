// FindResources' matcher at its worst: the longest expression taken, stars nested as deep as
// it allows, against a long name, beside a plain compare of that name in either case. The
// ratio is about the states followed for each character of the name.
#include <cstdio>
#include <cwctype>
#include <string>
#include "measure.hpp"
#include "server/resource_pattern.hpp"

void bench_matching()
{
    std::wstring expression(333, L'(');
    expression += L"A";
    for (int i = 0; i < 333; ++i)
        expression += L")*";
    const morvane::sessions::resource_pattern pattern(expression);
    const std::wstring name(10000, L'a');
    const std::wstring other(10000, L'A');
    volatile bool matched = false;
    const double matching = median_seconds(5, [&] { matched = pattern.matches(name); });
    const double compare = median_seconds(5, [&] {
        bool same = true;
        for (std::size_t i = 0; i < name.size(); ++i)
            same = same && std::towupper(name[i]) == std::towupper(other[i]);
        matched = same;
    });
    line("1000-char nested stars on a 10^4-char name", matching, compare);
}
