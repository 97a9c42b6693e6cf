#pragma once
// Numbers of the component's messages in its string table (messages.rc), and the
// help context and HRESULT that go with each message the component raises itself.
#include <windows.h>

#include "component_codes.hpp"
#include "error/message_numbers.h"

namespace morvane {

enum class message_id : UINT {
    block_too_large = MORVANE_MESSAGE_BLOCK_TOO_LARGE,
    no_block = MORVANE_MESSAGE_NO_BLOCK,
    block_short = MORVANE_MESSAGE_BLOCK_SHORT,
    array_not_convertible = MORVANE_MESSAGE_ARRAY_NOT_CONVERTIBLE,
    block_element_type = MORVANE_MESSAGE_BLOCK_ELEMENT_TYPE,
    number_is_array = MORVANE_MESSAGE_NUMBER_IS_ARRAY,
    not_numeric = MORVANE_MESSAGE_NOT_NUMERIC,
    bad_number_type = MORVANE_MESSAGE_BAD_NUMBER_TYPE,
    multidimensional = MORVANE_MESSAGE_MULTIDIMENSIONAL,
    no_io_resource = MORVANE_MESSAGE_NO_IO_RESOURCE,
    list_not_array = MORVANE_MESSAGE_LIST_NOT_ARRAY,
    end_on_empty_buffer = MORVANE_MESSAGE_END_ON_EMPTY_BUFFER,
    help_file_name = MORVANE_MESSAGE_HELP_FILE_NAME,
    error_source = MORVANE_MESSAGE_ERROR_SOURCE,
    separator_not_single = MORVANE_MESSAGE_SEPARATOR_NOT_SINGLE,
    buffer_size_not_positive = MORVANE_MESSAGE_BUFFER_SIZE_NOT_POSITIVE,
    buffer_not_allocated = MORVANE_MESSAGE_BUFFER_NOT_ALLOCATED,
    element_conversion = MORVANE_MESSAGE_ELEMENT_CONVERSION,
    integer_item = MORVANE_MESSAGE_INTEGER_ITEM,
    real_item = MORVANE_MESSAGE_REAL_ITEM,
    data_termination = MORVANE_MESSAGE_DATA_TERMINATION,
    not_single_number = MORVANE_MESSAGE_NOT_SINGLE_NUMBER,
    parse_failure = MORVANE_MESSAGE_PARSE_FAILURE,
    bad_array = MORVANE_MESSAGE_BAD_ARRAY,
    no_memory = MORVANE_MESSAGE_NO_MEMORY,
    bad_pointer = MORVANE_MESSAGE_BAD_POINTER,
    coercion_failed = MORVANE_MESSAGE_COERCION_FAILED,
    internal_error = MORVANE_MESSAGE_INTERNAL_ERROR,
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
inline constexpr component_message block_not_whole_elements{message_id::array_not_convertible, 1024,
                                                            E_FORMATTEDIO_DATA};
inline constexpr component_message block_type_unknown{message_id::array_not_convertible, 1024, E_INVALIDARG};
inline constexpr component_message block_element_type{message_id::block_element_type, 1025, E_INVALIDARG};

// Help contexts of the records built from platform failures.
inline constexpr DWORD stream_failure_help_context = 1011;
inline constexpr DWORD argument_failure_help_context = 1017;

} // namespace morvane
