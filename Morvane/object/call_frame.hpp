#pragma once
// The call frame that every interface method of CFmtdIOCls shares (CFmtdIOCls::frame runs it):
// the argument checks, the final look at the method's streams, and the one translator that
// turns the exception leaving a method into its HRESULT and the thread's error information.
// The clauses are tried in a fixed order; each method names which of them it has, and an
// exception without its clause becomes E_UNEXPECTED.
#include <windows.h>
#include <oaidl.h>
#include <cstddef>
#include <ios>
#include "stream/comio_stream.hpp"

namespace morvane {

struct handler_list {
    bool bad_pointer = false;  // E_POINTER, no error information
    bool win32_errors = false; // a record built from the platform failure, help context 1017
    bool loc_com = false;      // reset the method's streams, publish the error's record
    bool com_error = false;    // the platform's COM support error, as a record of the component
};

// What the frame knows of a method: its handlers, the streams it works on (a reported error
// resets them), and which state bits of those streams mean that the method failed.
struct method_kind {
    handler_list handlers;
    bool input = false;
    bool output = false;
    std::ios_base::iostate failure = std::ios_base::badbit;
};

inline constexpr std::ios_base::iostate any_failure =
    std::ios_base::badbit | std::ios_base::failbit | std::ios_base::eofbit;

// One row per kind of method; a handler or stream that a row does not name is off.
// IO, InstrumentBigEndian get
inline constexpr method_kind property_method{.handlers = {.bad_pointer = true}};
// InstrumentBigEndian put
inline constexpr method_kind unchecked_method{.handlers = {}};
// WriteString, WriteIEEEBlock
inline constexpr method_kind write_text_method{
    .handlers = {.bad_pointer = true, .loc_com = true, .com_error = true}, .output = true, .failure = any_failure};
// WriteNumber, WriteList
inline constexpr method_kind write_value_method{
    .handlers = {.bad_pointer = true, .win32_errors = true, .loc_com = true, .com_error = true},
    .output = true,
    .failure = any_failure};
// ReadString, ReadNumber, ReadIEEEBlock, FlushRead
inline constexpr method_kind read_method{.handlers = {.bad_pointer = true, .loc_com = true}, .input = true};
// ReadList
inline constexpr method_kind read_list_method{.handlers = {.bad_pointer = true, .win32_errors = true, .loc_com = true},
                                              .input = true};
// FlushWrite
inline constexpr method_kind flush_write_method{.handlers = {.bad_pointer = true, .loc_com = true}, .output = true};
// SetBufferSize: the streams its mask selects.
constexpr method_kind resize_method(bool input, bool output) noexcept
{
    return {.handlers = {.bad_pointer = true, .loc_com = true}, .input = input, .output = output};
}

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

// Output arguments, checked and emptied before anything else, so that they are empty
// whenever a later step fails.
template<typename T> void empty_out(T** out)
{
    check_out_ptr(out, sizeof *out); // a BSTR or interface pointer: null
}
inline void empty_out(VARIANT_BOOL* out) { check_out_ptr(out, sizeof *out); }
// A result VARIANT that is cleared, releasing what it held.
void clear_result(VARIANT* result);
// A result VARIANT that is made empty without releasing anything.
void init_result(VARIANT* result);

// The frame's look at one stream after the method's body: a stream that shows `failure`
// raises the error that its buffer recorded; otherwise its state is reset to good.
void raise_failure_or_clear(byte_ios& stream, const loc_com_error* recorded, std::ios_base::iostate failure);

} // namespace morvane
