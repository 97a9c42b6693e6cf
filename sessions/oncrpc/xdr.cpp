#include "oncrpc/xdr.hpp"

#include <algorithm>
#include <cstring>
#include "oncrpc/rpc_numbers.hpp"

namespace morvane::oncrpc {
namespace {

constexpr std::size_t padded(std::size_t size) { return (size + 3) & ~std::size_t(3); }

void store(unsigned char* at, std::uint32_t value)
{
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

} // namespace

xdr_writer::xdr_writer(std::size_t capacity)
{
    m_bytes.reserve(capacity + 4);
    m_bytes.resize(4); // the record mark, set by record()
}

void xdr_writer::put(std::uint32_t value)
{
    const std::size_t at = m_bytes.size();
    m_bytes.resize(at + 4);
    store(m_bytes.data() + at, value);
}

void xdr_writer::put_at(std::size_t offset, std::uint32_t value) { store(m_bytes.data() + offset, value); }

void xdr_writer::put_opaque(std::span<const unsigned char> bytes)
{
    const std::span<unsigned char> space = put_opaque_space(bytes.size());
    std::copy(bytes.begin(), bytes.end(), space.begin());
}

void xdr_writer::put_string(std::string_view text)
{
    put_opaque(std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
}

std::span<unsigned char> xdr_writer::put_opaque_space(std::size_t size)
{
    if (size > 0xFFFF'FFFFu)
        throw xdr_error("an opaque of more than 4 GiB cannot be encoded");
    m_opaque_at = m_bytes.size();
    put(static_cast<std::uint32_t>(size));
    const std::size_t at = m_bytes.size();
    m_bytes.resize(at + padded(size)); // zero, padding included
    return std::span(m_bytes).subspan(at, size);
}

void xdr_writer::shrink_opaque(std::size_t size)
{
    store(m_bytes.data() + m_opaque_at, static_cast<std::uint32_t>(size));
    const std::size_t end = m_opaque_at + 4 + size;
    m_bytes.resize(padded(end));
    std::fill(m_bytes.begin() + static_cast<std::ptrdiff_t>(end), m_bytes.end(), 0);
}

std::span<const unsigned char> xdr_writer::record()
{
    store(m_bytes.data(), rpc::last_fragment | static_cast<std::uint32_t>(m_bytes.size() - 4));
    return m_bytes;
}

std::span<const unsigned char> xdr_reader::take(std::size_t count, const char* what)
{
    if (count > left())
        throw xdr_error(std::string("truncated ") + what + ": " + std::to_string(count) + " bytes needed at offset " +
                        std::to_string(m_at) + ", " + std::to_string(left()) + " left");
    const auto taken = m_bytes.subspan(m_at, count);
    m_at += count;
    return taken;
}

std::uint32_t xdr_reader::get()
{
    const auto b = take(4, "field");
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

std::span<const unsigned char> xdr_reader::get_opaque(std::size_t most)
{
    const std::uint32_t size = get();
    if (size > most)
        throw xdr_error("opaque data of " + std::to_string(size) + " bytes, more than the " + std::to_string(most) +
                        " allowed");
    const auto data = take(padded(size), "opaque data");
    return data.first(size);
}

std::string xdr_reader::get_string(std::size_t most)
{
    const auto data = get_opaque(most);
    return std::string(data.begin(), data.end());
}

} // namespace morvane::oncrpc
