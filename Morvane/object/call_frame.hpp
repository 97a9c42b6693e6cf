#pragma once
// The call frame that every interface method of CFmtdIOCls shares: argument checks, and
// the one translator that turns the exception leaving a method into its HRESULT and the
// thread's error information. The clauses are tried in a fixed order; each method names
// which of them it has, and an exception without its clause becomes E_UNEXPECTED.
#include <windows.h>
#include <cstddef>
#include "stream/comio_stream.hpp"

namespace morvane {

struct handler_list {
    bool bad_pointer;  // E_POINTER, no error information
    bool win32_errors; // a record built from the platform failure, help context 1017
    bool loc_com;      // reset the method's streams, publish the error's record
    bool com_error;    // the platform's COM support error, as a record of the component
};

inline constexpr handler_list write_text_handlers{true, false, true, true};   // WriteString, WriteIEEEBlock
inline constexpr handler_list write_value_handlers{true, true, true, true};   // WriteNumber, WriteList
inline constexpr handler_list stream_handlers{true, false, true, false};      // reads, flushes, SetBufferSize
inline constexpr handler_list read_list_handlers{true, true, true, false};    // ReadList
inline constexpr handler_list property_handlers{true, false, false, false};   // IO, InstrumentBigEndian get
inline constexpr handler_list no_handlers{false, false, false, false};        // InstrumentBigEndian put

// Which of the object's streams a method works on: a reported error resets their state.
struct method_streams {
    bool input;
    bool output;
};
inline constexpr method_streams input_stream{true, false};
inline constexpr method_streams output_stream{false, true};
inline constexpr method_streams no_stream{false, false};

// The streams to reset, null where the method has none or nothing is bound.
struct stream_pointers {
    byte_ios* input = nullptr;
    byte_ios* output = nullptr;
};

// To be called inside a catch block: the HRESULT for the exception being handled.
HRESULT translate_current_exception(handler_list handlers, stream_pointers streams) noexcept;

// Raise bad_pointer when p is null or its first size bytes cannot be written; zero them otherwise.
void check_out_ptr(void* p, std::size_t size);
// Raise bad_pointer when p is null or its first size bytes cannot be read.
void check_in_ptr(const void* p, std::size_t size);

} // namespace morvane
