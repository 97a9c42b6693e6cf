// ReadIEEEBlock: one definite-length block straight from the session with Read, bypassing the
// input buffer, while the session's termination character is off.
//
// A failing session call ends the read as E_UNEXPECTED without error information of the
// component's: the record that the session left on the thread stays there untouched, so that a
// client that asks sees why (a timeout, a lost connection). A Read that returns fewer bytes than
// asked means that the instrument ended its message early: that is message 103 before the
// mark and 104 inside the block, except for the byte after the data, which may be missing.
#include "block/block_reading.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include "block/binary_block.hpp"
#include "error/errors.hpp"
#include "stream/session_setting.hpp"

namespace morvane {
namespace {

// How long the byte after the data is waited for, in milliseconds.
constexpr LONG trailing_byte_timeout = 100;

// A response or session that the block cannot be read from; reported as E_UNEXPECTED.
class unusable_response : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void check(HRESULT hr)
{
    if (FAILED(hr))
        throw unusable_response("session call failed");
}

// One Read of `count` bytes; the array that the session made, if any, is owned either way.
unique_safearray read(IMessage& session, LONG count, HRESULT& hr)
{
    SAFEARRAY* bytes = nullptr;
    hr = session.Read(count, &bytes);
    return unique_safearray(bytes);
}

unique_safearray read(IMessage& session, LONG count)
{
    HRESULT hr = S_OK;
    unique_safearray bytes = read(session, count, hr);
    check(hr);
    return bytes;
}

// How many of the `asked` bytes arrived; more than asked are not taken.
std::size_t arrived(SAFEARRAY* bytes, LONG asked)
{
    const std::size_t count = bytes ? element_count(bytes) : 0;
    if (count > 0 && SafeArrayGetElemsize(bytes) != 1)
        throw unusable_response("the session returned no byte array");
    return std::min(count, static_cast<std::size_t>(asked));
}

// Reads `count` bytes to `to`; false when fewer arrived.
bool read_to(IMessage& session, LONG count, unsigned char* to)
{
    const unique_safearray bytes = read(session, count);
    const std::size_t n = arrived(bytes.get(), count);
    if (n > 0)
        std::memcpy(to, safearray_data(bytes.get()).bytes(), n);
    return n == static_cast<std::size_t>(count);
}

// Reads up to the "#" mark, one byte at a time, and the digit count after it; every byte
// before the mark is lost.
int find_block_start(IMessage& session, bool seek_to_block)
{
    unsigned char byte = 0;
    do {
        if (!read_to(session, 1, &byte))
            raise(no_block);
        if (byte != '#' && !seek_to_block)
            throw unusable_response("the response does not start with a block");
    } while (byte != '#');
    if (!read_to(session, 1, &byte))
        raise(block_short);
    if (byte < '0' || byte > '9')
        throw unusable_response("the block has no digit count");
    return byte - '0';
}

// The declared length. Each byte counts as its value minus 48, digit or not; a length
// outside 32 bits cannot be read as a block and fails before any data is asked for.
LONG read_block_length(IMessage& session, int digits)
{
    unsigned char text[9];
    if (!read_to(session, digits, text))
        raise(block_short);
    std::int64_t length = 0;
    for (int i = 0; i < digits; ++i)
        length = length * 10 + (text[i] - '0');
    if (length > INT32_MAX || length < INT32_MIN)
        raise(block_short);
    return static_cast<LONG>(length);
}

// The data in one Read, then the byte that ends the response under a short timeout.
void read_block_data(IMessage& session, LONG length, binary_block& block)
{
    unique_safearray data = read(session, length);
    const std::size_t count = arrived(data.get(), length);
    if (count < static_cast<std::size_t>(length))
        raise(block_short);
    block.take_data(std::move(data), count);

    session_setting<LONG, check> timeout(session, &IMessage::get_Timeout, &IMessage::put_Timeout);
    timeout.set(trailing_byte_timeout);
    HRESULT hr = S_OK;
    read(session, 1, hr); // the byte itself is dropped with its array
    if (hr == session::timeout_expired)
        SetErrorInfo(0, nullptr); // no byte followed: the response ended with the data, no failure
    else
        check(hr);
    timeout.restore();
}

// Steps from the mark to the conversion; false for a block without data ("#0", or a length of
// 0 or less), which leaves the result empty and reads nothing more.
bool read_block(IMessage& session, bool seek_to_block, bool swap, std::uint32_t type, VARIANT& result)
{
    binary_block block(swap);
    const int digits = find_block_start(session, seek_to_block);
    if (digits == 0)
        return false;
    const LONG length = read_block_length(session, digits);
    if (length <= 0)
        return false;
    read_block_data(session, length, block);
    block.to_array(result, swap, type);
    return true; // the session's array goes with the block, before the input stream is checked
}

} // namespace

void read_ieee_block(IMessage& session, bool seek_to_block, bool big_endian, std::uint32_t type, VARIANT& data,
                     const std::function<void()>& after_data)
{
    session_setting<VARIANT_BOOL, check> termination(session, &IMessage::get_TerminationCharacterEnabled,
                                                     &IMessage::put_TerminationCharacterEnabled);
    if (termination.saved() != VARIANT_FALSE)
        termination.set(VARIANT_FALSE);
    if (read_block(session, seek_to_block, big_endian, type, data))
        after_data();
    try {
        termination.restore();
    } catch (...) {
        VariantClear(&data); // a failed call hands no array out
        throw;
    }
}

} // namespace morvane
