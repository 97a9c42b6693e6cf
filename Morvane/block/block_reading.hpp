#pragma once
// ReadIEEEBlock's work: one definite-length block straight from the session, bypassing the
// input buffer, while the session's termination character is off.
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <functional>
#include <visacom.h>

namespace morvane {

// The block as an array of the number type's 32 bits in `data`, reversed into host order when
// `big_endian`; a block without data leaves `data` empty. `after_data` runs after a block with
// data, before the termination character is set back.
void read_ieee_block(IMessage& session, bool seek_to_block, bool big_endian, std::uint32_t type, VARIANT& data,
                     const std::function<void()>& after_data);

} // namespace morvane
