#include "vxi11/core_messages.hpp"

namespace morvane::vxi11 {
namespace {

void put_error(xdr_writer& out, device_error error) { out.put_signed(static_cast<std::int32_t>(error)); }
device_error get_error(xdr_reader& in) { return static_cast<device_error>(in.get_signed()); }

} // namespace

void encode(xdr_writer& out, const device_error_result& message) { put_error(out, message.error); }
void decode(xdr_reader& in, device_error_result& message) { message.error = get_error(in); }

void encode(xdr_writer& out, const device_link& message) { out.put_signed(message.link); }
void decode(xdr_reader& in, device_link& message) { message.link = in.get_signed(); }

void encode(xdr_writer& out, const create_link_args& message)
{
    out.put_signed(message.client_id);
    out.put(message.lock_device);
    out.put(message.lock_timeout);
    out.put_string(message.device);
}

void decode(xdr_reader& in, create_link_args& message)
{
    message.client_id = in.get_signed();
    message.lock_device = in.get_bool();
    message.lock_timeout = in.get();
    message.device = in.get_string(max_device_name);
}

void encode(xdr_writer& out, const create_link_result& message)
{
    put_error(out, message.error);
    out.put_signed(message.link);
    out.put(message.abort_port);
    out.put(message.max_receive);
}

void decode(xdr_reader& in, create_link_result& message)
{
    message.error = get_error(in);
    message.link = in.get_signed();
    message.abort_port = in.get();
    message.max_receive = in.get();
}

void encode(xdr_writer& out, const device_write_args& message)
{
    out.put_signed(message.link);
    out.put(message.io_timeout);
    out.put(message.lock_timeout);
    out.put_signed(message.flags);
    out.put_opaque(message.data);
}

void decode(xdr_reader& in, device_write_args& message, std::size_t most)
{
    message.link = in.get_signed();
    message.io_timeout = in.get();
    message.lock_timeout = in.get();
    message.flags = in.get_signed();
    message.data = in.get_opaque(most);
}

void encode(xdr_writer& out, const device_write_result& message)
{
    put_error(out, message.error);
    out.put(message.size);
}

void decode(xdr_reader& in, device_write_result& message)
{
    message.error = get_error(in);
    message.size = in.get();
}

void encode(xdr_writer& out, const device_read_args& message)
{
    out.put_signed(message.link);
    out.put(message.request_size);
    out.put(message.io_timeout);
    out.put(message.lock_timeout);
    out.put_signed(message.flags);
    out.put(message.term_char);
}

void decode(xdr_reader& in, device_read_args& message)
{
    message.link = in.get_signed();
    message.request_size = in.get();
    message.io_timeout = in.get();
    message.lock_timeout = in.get();
    message.flags = in.get_signed();
    message.term_char = in.get();
}

void encode(xdr_writer& out, const device_read_result& message)
{
    put_error(out, message.error);
    out.put_signed(message.reason);
    out.put_opaque(message.data);
}

void decode(xdr_reader& in, device_read_result& message, std::size_t most)
{
    message.error = get_error(in);
    message.reason = in.get_signed();
    message.data = in.get_opaque(most);
}

std::span<unsigned char> encode_read_space(xdr_writer& out, const device_read_result& message, std::size_t most)
{
    put_error(out, message.error);
    out.put_signed(message.reason);
    return out.put_opaque_space(most);
}

void finish_read(xdr_writer& out, std::size_t at, std::int32_t reason, std::size_t size)
{
    out.shrink_opaque(size);
    out.put_at(at + 4, static_cast<std::uint32_t>(reason)); // after the error
}

void encode_read_head(xdr_writer& out, const device_read_result& message, std::size_t size)
{
    put_error(out, message.error);
    out.put_signed(message.reason);
    out.put(static_cast<std::uint32_t>(size));
}

void encode(xdr_writer& out, const device_generic_args& message)
{
    out.put_signed(message.link);
    out.put_signed(message.flags);
    out.put(message.lock_timeout);
    out.put(message.io_timeout);
}

void decode(xdr_reader& in, device_generic_args& message)
{
    message.link = in.get_signed();
    message.flags = in.get_signed();
    message.lock_timeout = in.get();
    message.io_timeout = in.get();
}

void encode(xdr_writer& out, const device_readstb_result& message)
{
    put_error(out, message.error);
    out.put(message.status); // an unsigned char, widened
}

void decode(xdr_reader& in, device_readstb_result& message)
{
    message.error = get_error(in);
    message.status = static_cast<std::uint8_t>(in.get() & 0xFF);
}

void encode(xdr_writer& out, const device_lock_args& message)
{
    out.put_signed(message.link);
    out.put_signed(message.flags);
    out.put(message.lock_timeout);
}

void decode(xdr_reader& in, device_lock_args& message)
{
    message.link = in.get_signed();
    message.flags = in.get_signed();
    message.lock_timeout = in.get();
}

void encode(xdr_writer& out, const device_enable_srq_args& message)
{
    out.put_signed(message.link);
    out.put(message.enable);
    out.put_opaque(message.handle);
}

void decode(xdr_reader& in, device_enable_srq_args& message)
{
    message.link = in.get_signed();
    message.enable = in.get_bool();
    message.handle = in.get_opaque(max_srq_handle);
}

void encode(xdr_writer& out, const device_docmd_args& message)
{
    out.put_signed(message.link);
    out.put_signed(message.flags);
    out.put(message.io_timeout);
    out.put(message.lock_timeout);
    out.put_signed(message.command);
    out.put(message.network_order);
    out.put_signed(message.data_size);
    out.put_opaque(message.data_in);
}

void decode(xdr_reader& in, device_docmd_args& message, std::size_t most)
{
    message.link = in.get_signed();
    message.flags = in.get_signed();
    message.io_timeout = in.get();
    message.lock_timeout = in.get();
    message.command = in.get_signed();
    message.network_order = in.get_bool();
    message.data_size = in.get_signed();
    message.data_in = in.get_opaque(most);
}

void encode(xdr_writer& out, const device_docmd_result& message)
{
    put_error(out, message.error);
    out.put_opaque(message.data_out);
}

void decode(xdr_reader& in, device_docmd_result& message, std::size_t most)
{
    message.error = get_error(in);
    message.data_out = in.get_opaque(most);
}

void encode(xdr_writer& out, const device_remote_func& message)
{
    out.put(message.host_address);
    out.put(message.host_port);
    out.put(message.program);
    out.put(message.version);
    out.put(message.family);
}

void decode(xdr_reader& in, device_remote_func& message)
{
    message.host_address = in.get();
    message.host_port = static_cast<std::uint16_t>(in.get());
    message.program = in.get();
    message.version = in.get();
    message.family = in.get();
}

void encode(xdr_writer& out, const device_srq_args& message) { out.put_opaque(message.handle); }
void decode(xdr_reader& in, device_srq_args& message) { message.handle = in.get_opaque(max_srq_handle); }

} // namespace morvane::vxi11
