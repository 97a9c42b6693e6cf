#pragma once
// The registry script that describes a class's registration: a tree of keys under
// HKEY_CLASSES_ROOT with their string values and markers. The grammar, by example:
//
//     HKCR
//     {
//         NoRemove CLSID
//         {
//             ForceRemove %CLSID% = s 'A class'
//             {
//                 InprocServer32 = s '%MODULE%'
//                 {
//                     val ThreadingModel = s 'Both'
//                 }
//             }
//         }
//     }
//
// Tokens are separated by white space; a quoted token is '...' with '' for a quote inside.
// The root is HKCR or HKEY_CLASSES_ROOT; values are strings ("s"); a key is marked NoRemove
// or ForceRemove or not at all; "val" gives a named value. Keywords ignore case.
// %name% is replaced by the value supplied for that name (ignoring case), %% by %.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::registry {

enum class marker { none, no_remove, force_remove };

struct named_value {
    std::wstring name;
    std::wstring data;
};

struct script_key {
    std::wstring name;
    marker mark = marker::none;
    std::optional<std::wstring> value; // the default value
    std::vector<named_value> values;
    std::vector<script_key> subkeys;
};

struct replacement {
    std::wstring_view name;
    std::wstring_view value;
};

// The text with its %name% tokens replaced; nothing when a token is unknown or unterminated.
std::optional<std::wstring> replace_tokens(std::wstring_view script, std::span<const replacement> replacements);

// The keys of the script's roots, in script order; nothing when the script is malformed.
std::optional<std::vector<script_key>> parse_script(std::wstring_view script);

} // namespace morvane::registry
