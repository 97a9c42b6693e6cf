#pragma once
// Numbers of the component's messages in its string table (messages.rc), and the
// help context and HRESULT that go with each message the component raises itself.
#include <windows.h>

#include "component_codes.hpp"

namespace morvane {

enum class message_id : UINT {
    block_too_large = 101,
    no_block = 103,
    block_short = 104,
    array_not_convertible = 106,
    block_element_type = 107,
    number_is_array = 108,
    not_numeric = 109,
    bad_number_type = 110,
    multidimensional = 111,
    no_io_resource = 112,
    list_not_array = 113,
    end_on_empty_buffer = 115,
    help_file_name = 117,
    error_source = 118,
    separator_not_single = 116,
    buffer_size_not_positive = 120,
    buffer_not_allocated = 121,
    element_conversion = 123,
    integer_item = 125,
    real_item = 126,
    data_termination = 128,
    not_single_number = 129,
    parse_failure = 130,
    bad_array = 2003,
    no_memory = 2004,
    bad_pointer = 2005,
    coercion_failed = 2008,
    internal_error = 2009,
};

// What a raising site passes along with a message.
struct component_message {
    message_id number;
    DWORD help_context;
    HRESULT hr;
};

inline constexpr component_message no_io_resource{message_id::no_io_resource, 1030, E_FAIL};
inline constexpr component_message end_on_empty_buffer{message_id::end_on_empty_buffer, 1033, E_FAIL};
inline constexpr component_message buffer_size_not_positive{message_id::buffer_size_not_positive, 1036, E_INVALIDARG};
inline constexpr component_message buffer_not_allocated{message_id::buffer_not_allocated, 1037, E_OUTOFMEMORY};
inline constexpr component_message number_is_array{message_id::number_is_array, 1026, E_INVALIDARG};
inline constexpr component_message not_numeric{message_id::not_numeric, 1027, E_INVALIDARG};
inline constexpr component_message multidimensional{message_id::multidimensional, 1029, E_INVALIDARG};
inline constexpr component_message list_not_array{message_id::list_not_array, 1031, E_INVALIDARG};
inline constexpr component_message separator_not_single{message_id::separator_not_single, 1035, E_INVALIDARG};

// Blocks: writing them, reading them, converting them to arrays.
inline constexpr component_message block_too_large{message_id::block_too_large, 1018, E_INVALIDARG};
inline constexpr component_message no_block{message_id::no_block, 1019, E_FORMATTEDIO_DATA};
inline constexpr component_message block_short{message_id::block_short, 1020, E_FORMATTEDIO_DATA};
inline constexpr component_message block_not_whole_elements{message_id::array_not_convertible, 1024, E_FORMATTEDIO_DATA};
inline constexpr component_message block_type_unknown{message_id::array_not_convertible, 1024, E_INVALIDARG};
inline constexpr component_message block_element_type{message_id::block_element_type, 1025, E_INVALIDARG};

// Help contexts of the records built from platform failures.
inline constexpr DWORD stream_failure_help_context = 1011;
inline constexpr DWORD argument_failure_help_context = 1017;

} // namespace morvane
