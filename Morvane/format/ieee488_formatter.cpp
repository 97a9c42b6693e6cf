#include "format/ieee488_formatter.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <visacom.h>
#include "error/error_values.hpp"
#include "error/errors.hpp"
#include "format/render_number.hpp"
#include "format/arguments.hpp"
#include "platform/ansi.hpp"

namespace morvane {
namespace {

// The size of an element that the formatter reads where it lies, or 0. A VARIANT element is
// always fetched: one that cannot be copied must fail the list before anything is written.
std::size_t in_place_size(VARTYPE element_type, VARTYPE code) noexcept
{
    if (element_type != code && code != VT_VARIANT)
        return 0;
    return element_type == VT_BSTR ? sizeof(BSTR) : number_size(element_type);
}

[[noreturn]] void raise_element_conversion(LONG index, HRESULT hr)
{
    const win32_hresult_error inner(message_id::coercion_failed, hr);
    resource_string text(message_id::element_conversion);
    text.format(80, static_cast<int>(index), inner.what());
    const wchar_t* description = text.wide();
    throw loc_com_error(std::wstring_view(description ? description : L""), argument_failure_help_context,
                        help_file_path.c_str(), error_source.wide(), IID_IFormattedIO488, E_INVALIDARG);
}

void write_text(basic_comostream& out, BSTR text)
{
    const std::string bytes = to_ansi(bstr_view(text));
    out.write(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

ieee488_formatter::~ieee488_formatter() = default;

void ieee488_formatter::load_array(const VARIANT& data)
{
    element_code(m_type, E_INVALIDARG);
    const std::optional<safearray_view> array = safearray_view::of(data);
    if (!array)
        raise(list_not_array);
    const UINT dimensions = array->dimensions();
    if (dimensions == 0)
        throw win32_hresult_error(message_id::bad_array, E_INVALIDARG);
    if (dimensions > 1)
        raise(multidimensional);
    const index_range range = bounds_of(*array);

    const std::size_t size = in_place_size(array->element_type(), m_type);
    VARTYPE own_type = VT_EMPTY;
    const bool same_type = FAILED(SafeArrayGetVartype(array->array(), &own_type)) || own_type == array->element_type();
    // Bounds that the platform wrapped around the 32-bit range count more elements than the
    // array holds: those are fetched one by one, and the first fetch beyond the array fails.
    const std::size_t cells = cell_count(array->array());
    if (size && same_type && SafeArrayGetElemsize(array->array()) == size && range.count() <= cells) {
        m_in_place.emplace(array->array());
        m_in_place_type = array->element_type();
        m_count = range.count();
        return;
    }
    std::vector<unique_variant> values;
    values.reserve(std::min(range.count(), cells));
    for (LONGLONG index = range.lower; index <= range.upper; ++index) {
        unique_variant& value = values.emplace_back();
        fetch_element(*array, static_cast<LONG>(index), value);
        if (m_type != VT_VARIANT && value.type() != m_type)
            if (HRESULT hr = value.change_type(m_type); FAILED(hr))
                raise_element_conversion(static_cast<LONG>(index), hr);
    }
    m_values = std::move(values);
}

VARIANT ieee488_formatter::element(std::size_t i) const noexcept
{
    if (!m_in_place)
        return *m_values[i];
    VARIANT value;
    V_VT(&value) = m_in_place_type;
    const std::size_t size = in_place_size(m_in_place_type, m_in_place_type);
    std::memcpy(&value.llVal, m_in_place->bytes() + i * size, size);
    return value;
}

// Code 8 holds text already; code 12 becomes text through the platform's conversion.
void ieee488_formatter::write_text_element(basic_comostream& out, const VARIANT& value)
{
    if (m_type == VT_BSTR) {
        write_text(out, V_BSTR(&value));
        return;
    }
    unique_variant text;
    if (HRESULT hr = text.change_type_from(value, VT_BSTR); FAILED(hr))
        throw win32_hresult_error(message_id::coercion_failed, hr);
    write_text(out, V_BSTR(text.get()));
}

namespace {

// Elements of one number type read where they lie, each with the separator before it in one
// piece of text made in place; the first has been written already.
template<typename Number>
void write_rest(basic_comostream& out, const unsigned char* data, std::size_t count, char separator)
{
    const auto* numbers = reinterpret_cast<const Number*>(data);
    for (std::size_t i = 1; i < count; ++i) {
        if (!out.good())
            raise_recorded(out.last_error());
        out.write_formatted(real_text_room + 1, [&](char* to) {
            *to = separator;
            return 1 + number_text(numbers[i], to + 1);
        });
    }
}

} // namespace

void ieee488_formatter::write_list(basic_comostream& out)
{
    const std::size_t count = size();
    const char separator = m_separators.empty() ? '\0' : m_separators[0];
    if (m_type == VT_BSTR || m_type == VT_VARIANT) {
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0)
                out.write_formatted(1, [separator](char* to) { return *to = separator, std::size_t(1); });
            write_text_element(out, element(i));
            if (!out.good())
                raise_recorded(out.last_error());
        }
        return;
    }
    if (count == 0)
        return;
    render_number(out, element(0), m_type); // sets the stream's precision as each number does
    // Numbers read in place take a loop of their own type, with no VARIANT per element.
    const unsigned char* data = m_in_place ? m_in_place->bytes() : nullptr;
    switch (data ? m_type : VARTYPE(VT_EMPTY)) {
    case VT_I2: write_rest<SHORT>(out, data, count, separator); break;
    case VT_I4: write_rest<LONG>(out, data, count, separator); break;
    case VT_UI1: write_rest<BYTE>(out, data, count, separator); break;
    case VT_R4: write_rest<FLOAT>(out, data, count, separator); break;
    case VT_R8: write_rest<DOUBLE>(out, data, count, separator); break;
    default:
        for (std::size_t i = 1; i < count; ++i) {
            if (!out.good())
                raise_recorded(out.last_error());
            const VARIANT value = element(i);
            out.write_formatted(real_text_room + 1, [&](char* to) {
                *to = separator;
                return 1 + number_text(value, m_type, to + 1);
            });
        }
    }
    if (!out.good())
        raise_recorded(out.last_error());
}

void ieee488_formatter::store_array(VARIANT& result)
{
    VariantInit(&result);
    V_VT(&result) = VT_ARRAY | m_type;
    const std::size_t count = m_parsed ? m_parsed->size() : 0;
    SAFEARRAY* array = count <= ULONG_MAX ? SafeArrayCreateVector(m_type, 0, static_cast<ULONG>(count)) : nullptr;
    if (!array)
        throw win32_hresult_error(message_id::no_memory, E_OUTOFMEMORY);
    V_ARRAY(&result) = array;
    if (count == 0)
        return;
    try {
        const safearray_data data(array);
        m_parsed->move_to(data.bytes());
    } catch (const safearray_error& error) {
        throw win32_hresult_error(message_id::bad_array, error.hresult());
    }
}

double ieee488_formatter::first_value() const
{
    if (!m_parsed || m_parsed->size() == 0)
        throw std::out_of_range("no number was read");
    double value;
    std::memcpy(&value, m_parsed->first(), sizeof value);
    return value;
}

} // namespace morvane
