#pragma once
// The VXI-11 core channel's arguments and results, and the interrupt channel's call, each a struct with a writer
// (encode) and a reader (decode) that the session and the server share. Opaque data are viewed where they lie: a struct
// read holds a span into the record read.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include "oncrpc/xdr.hpp"
#include "vxi11/vxi11_numbers.hpp"

namespace morvane::vxi11 {

using oncrpc::xdr_reader;
using oncrpc::xdr_writer;

// The longest device name that create_link takes, and the most bytes of a device_enable_srq handle.
inline constexpr std::size_t max_device_name = 256, max_srq_handle = 40;

// The results of destroy_link, device_lock, device_unlock, device_trigger, device_clear,
// device_remote, device_local, device_enable_srq, create_intr_chan and destroy_intr_chan.
struct device_error_result {
    device_error error = device_error::none;
};

// The arguments of destroy_link and device_unlock.
struct device_link {
    std::int32_t link = 0;
};

struct create_link_args {
    std::int32_t client_id = 0;
    bool lock_device = false;
    std::uint32_t lock_timeout = 0;
    std::string device;
};
struct create_link_result {
    device_error error = device_error::none;
    std::int32_t link = 0;
    std::uint32_t abort_port = 0;
    std::uint32_t max_receive = 0; // the most bytes one device_write takes
};

struct device_write_args {
    std::int32_t link = 0;
    std::uint32_t io_timeout = 0;
    std::uint32_t lock_timeout = 0;
    std::int32_t flags = 0;
    std::span<const unsigned char> data;
};
struct device_write_result {
    device_error error = device_error::none;
    std::uint32_t size = 0; // the bytes taken
};

struct device_read_args {
    std::int32_t link = 0;
    std::uint32_t request_size = 0;
    std::uint32_t io_timeout = 0;
    std::uint32_t lock_timeout = 0;
    std::int32_t flags = 0;
    std::uint32_t term_char = 0;
};
struct device_read_result {
    device_error error = device_error::none;
    std::int32_t reason = 0;
    std::span<const unsigned char> data;
};

// The arguments of device_readstb, device_trigger, device_clear, device_remote and device_local.
struct device_generic_args {
    std::int32_t link = 0;
    std::int32_t flags = 0;
    std::uint32_t lock_timeout = 0;
    std::uint32_t io_timeout = 0;
};
struct device_readstb_result {
    device_error error = device_error::none;
    std::uint8_t status = 0;
};

struct device_lock_args {
    std::int32_t link = 0;
    std::int32_t flags = 0;
    std::uint32_t lock_timeout = 0;
};

struct device_enable_srq_args {
    std::int32_t link = 0;
    bool enable = false;
    std::span<const unsigned char> handle; // at most max_srq_handle bytes
};

struct device_docmd_args {
    std::int32_t link = 0;
    std::int32_t flags = 0;
    std::uint32_t io_timeout = 0;
    std::uint32_t lock_timeout = 0;
    std::int32_t command = 0;
    bool network_order = false;
    std::int32_t data_size = 0;
    std::span<const unsigned char> data_in;
};
struct device_docmd_result {
    device_error error = device_error::none;
    std::span<const unsigned char> data_out;
};

// create_intr_chan's arguments: where the interrupt channel's RPC server listens.
struct device_remote_func {
    std::uint32_t host_address = 0;
    std::uint16_t host_port = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t family = 0; // 0: TCP, 1: UDP
};

// device_intr_srq's argument, on the interrupt channel.
struct device_srq_args {
    std::span<const unsigned char> handle; // at most max_srq_handle bytes
};

void encode(xdr_writer& out, const device_error_result& message);
void decode(xdr_reader& in, device_error_result& message);
void encode(xdr_writer& out, const device_link& message);
void decode(xdr_reader& in, device_link& message);
void encode(xdr_writer& out, const create_link_args& message);
void decode(xdr_reader& in, create_link_args& message);
void encode(xdr_writer& out, const create_link_result& message);
void decode(xdr_reader& in, create_link_result& message);
void encode(xdr_writer& out, const device_write_args& message);
// `most`: the most data bytes taken; more is an xdr_error.
void decode(xdr_reader& in, device_write_args& message, std::size_t most);
void encode(xdr_writer& out, const device_write_result& message);
void decode(xdr_reader& in, device_write_result& message);
void encode(xdr_writer& out, const device_read_args& message);
void decode(xdr_reader& in, device_read_args& message);
void encode(xdr_writer& out, const device_read_result& message);
// `most`: the most data bytes taken; more is an xdr_error.
void decode(xdr_reader& in, device_read_result& message, std::size_t most);
void encode(xdr_writer& out, const device_generic_args& message);
void decode(xdr_reader& in, device_generic_args& message);
void encode(xdr_writer& out, const device_readstb_result& message);
void decode(xdr_reader& in, device_readstb_result& message);
void encode(xdr_writer& out, const device_lock_args& message);
void decode(xdr_reader& in, device_lock_args& message);
void encode(xdr_writer& out, const device_enable_srq_args& message);
void decode(xdr_reader& in, device_enable_srq_args& message);
void encode(xdr_writer& out, const device_docmd_args& message);
// `most`: the most data bytes taken; more is an xdr_error.
void decode(xdr_reader& in, device_docmd_args& message, std::size_t most);
void encode(xdr_writer& out, const device_docmd_result& message);
void decode(xdr_reader& in, device_docmd_result& message, std::size_t most);
void encode(xdr_writer& out, const device_remote_func& message);
void decode(xdr_reader& in, device_remote_func& message);
void encode(xdr_writer& out, const device_srq_args& message);
void decode(xdr_reader& in, device_srq_args& message);

// device_read's result written in place, for a server that reads the data straight into the
// record: encode_read_space writes `message` with room for `most` data bytes and returns that
// room; finish_read then sets the reason and the bytes that came. `at` is where the result
// begins (the writer's size before encode_read_space).
std::span<unsigned char> encode_read_space(xdr_writer& out, const device_read_result& message, std::size_t most);
void finish_read(xdr_writer& out, std::size_t at, std::int32_t reason, std::size_t size);
// device_read's result without its data, for a server that sends them as it reads them:
// `size` data bytes and their padding follow.
void encode_read_head(xdr_writer& out, const device_read_result& message, std::size_t size);

} // namespace morvane::vxi11
