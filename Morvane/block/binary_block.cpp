#include "block/binary_block.hpp"

#include <charconv>
#include <cstring>
#include "block/byte_order.hpp"
#include "error/errors.hpp"
#include "format/arguments.hpp"

namespace morvane {
namespace {

// The most data bytes that a length of 9 digits can state.
constexpr std::size_t largest_block = 999'999'999;

// Access to an array's data; a refusal is message 2003 with the platform's HRESULT.
void hold_open(std::optional<safearray_data>& access, SAFEARRAY* array)
{
    try {
        access.emplace(array);
    } catch (const safearray_error& error) {
        throw win32_hresult_error(message_id::bad_array, error.hresult());
    }
}

// Whether the array's data spans at least `needed` bytes. Only the first dimension's count is
// taken, but the data is as large as all dimensions together make it, which an empty further
// dimension or a mislabelled array makes smaller.
bool spans(SAFEARRAY* array, std::size_t needed) noexcept
{
    std::size_t held = SIZE_MAX;
    __builtin_mul_overflow(cell_count(array), std::size_t(array->cbElements), &held);
    return held >= needed;
}

// The caller's elements in wire order, each reversed as the output buffer takes it.
class reversing_source final : public byte_source {
public:
    reversing_source(std::span<const unsigned char> elements, std::size_t size) noexcept
        : m_elements(elements), m_size(size)
    {}
    void produce(unsigned char* to, std::size_t count) override
    {
        copy_reversed(m_elements.data(), m_position, count, m_size, to);
        m_position += count;
    }

private:
    std::span<const unsigned char> m_elements;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// Bytes per element of a block element type, the whole 32-bit code compared; 0 for any other.
std::size_t block_element_size(std::uint32_t type) noexcept
{
    return type <= 0xFFFF ? number_size(static_cast<VARTYPE>(type)) : 0;
}

} // namespace

binary_block::~binary_block() = default;

void binary_block::from_array(const VARIANT& data)
{
    const std::optional<safearray_view> array = safearray_view::of(data);
    if (!array)
        raise(block_element_type);
    const index_range range = bounds_of(*array);
    const std::size_t size = block_element_size(array->element_type());
    if (size == 0)
        raise(block_element_type);
    const std::size_t count = range.count() * size;
    if (!spans(array->array(), count))
        throw win32_hresult_error(message_id::bad_array, E_INVALIDARG);
    hold_open(m_access, array->array());
    if (!m_access->bytes() && count > 0)
        throw win32_hresult_error(message_id::bad_array, E_INVALIDARG);
    m_bytes = {m_access->bytes(), count};
    m_element_size = size;
}

void binary_block::take_data(unique_safearray bytes, std::size_t count)
{
    m_access.reset();
    m_owned = std::move(bytes);
    hold_open(m_access, m_owned.get());
    m_bytes = {m_access->bytes(), count};
}

void binary_block::write_block(basic_comostream& out) const
{
    const std::size_t count = m_bytes.size();
    if (count > largest_block)
        raise(block_too_large);
    char header[11] = {'#'};
    char* const end = std::to_chars(header + 2, header + sizeof header, count).ptr;
    header[1] = static_cast<char>('0' + (end - header - 2));
    out.write(reinterpret_cast<const unsigned char*>(header), end - header);
    if (m_swap && m_element_size > 1) {
        reversing_source source(m_bytes, m_element_size);
        out.write_from(source, count);
    } else {
        memory_source source(m_bytes);
        out.write_from(source, count);
    }
}

void binary_block::to_array(VARIANT& result, bool swap, std::uint32_t type) const
{
    const std::size_t size = block_element_size(type);
    if (size == 0)
        raise(block_type_unknown);
    if (m_bytes.size() % size != 0)
        raise(block_not_whole_elements);
    // Created without its data being cleared: every byte of it is written below.
    unique_safearray array(
        SafeArrayCreateVector(static_cast<VARTYPE>(type), 0, static_cast<ULONG>(m_bytes.size() / size)));
    if (!array)
        throw win32_hresult_error(message_id::no_memory, E_OUTOFMEMORY);
    if (!m_bytes.empty()) {
        std::optional<safearray_data> access;
        hold_open(access, array.get());
        if (swap && size > 1)
            copy_reversed(m_bytes.data(), 0, m_bytes.size(), size, access->bytes());
        else
            std::memcpy(access->bytes(), m_bytes.data(), m_bytes.size());
    }
    VariantInit(&result);
    V_VT(&result) = static_cast<VARTYPE>(VT_ARRAY | type);
    V_ARRAY(&result) = array.release();
}

} // namespace morvane
