#include "values.hpp"

#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>
#include "failure.hpp"
#include "number_text.hpp"
#include "text.hpp"

namespace fmtio {
namespace {

struct type_facts {
    const char* name;
    NumberType code;
    VARTYPE vt;
};

// In the order of element_type.
constexpr type_facts types[] = {
    {"i2", NumberType_I2, VT_I2},    {"i4", NumberType_I4, VT_I4},      {"r4", NumberType_R4, VT_R4},
    {"r8", NumberType_R8, VT_R8},    {"str", NumberType_BSTR, VT_BSTR}, {"any", NumberType_Any, VT_VARIANT},
    {"ui1", NumberType_UI1, VT_UI1},
};

const type_facts& facts(element_type type) { return types[static_cast<int>(type)]; }

// A number written in full; a leading "+" is allowed, as people write it.
template<typename T> std::optional<T> parse_number(std::string_view text)
{
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

template<typename T> T parse_element(const std::string& text, element_type type)
{
    if constexpr (std::is_floating_point_v<T>) {
        if (const std::optional<T> value = parse_number<T>(text))
            return *value;
        throw usage_error("not a value of type " + type_name(type) + ": " + quoted(text));
    } else {
        constexpr long long low = std::numeric_limits<T>::min(), high = std::numeric_limits<T>::max();
        const std::optional<long long> value = parse_number<long long>(text);
        if (!value || *value < low || *value > high)
            throw usage_error("not a value of type " + type_name(type) + ": " + quoted(text) + " (integers from " +
                              std::to_string(low) + " to " + std::to_string(high) + ")");
        return static_cast<T>(*value);
    }
}

morvane::unique_safearray new_vector(VARTYPE vt, std::size_t count)
{
    if (count > std::numeric_limits<ULONG>::max())
        throw std::bad_alloc();
    morvane::unique_safearray array(SafeArrayCreateVector(vt, 0, static_cast<ULONG>(count)));
    if (!array)
        throw std::bad_alloc();
    return array;
}

// The elements of a one-dimensional array of T, reached for as long as the view lives.
template<typename T> class elements {
public:
    explicit elements(SAFEARRAY* array) : m_access(array) {}
    T& operator[](std::size_t i) const noexcept { return reinterpret_cast<T*>(m_access.bytes())[i]; }

private:
    morvane::safearray_data m_access;
};

// A string that the array owns once stored in it.
BSTR owned_string(const std::string& text) { return utf8_to_bstr(text).release(); }

template<typename T> void fill(SAFEARRAY* array, std::span<const std::string> texts, element_type type)
{
    const elements<T> data(array);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if constexpr (std::is_same_v<T, BSTR>) {
            data[i] = owned_string(texts[i]);
        } else if constexpr (std::is_same_v<T, VARIANT>) {
            if (const std::optional<double> number = parse_number<double>(texts[i])) {
                V_R8(&data[i]) = *number;
                V_VT(&data[i]) = VT_R8;
            } else {
                V_BSTR(&data[i]) = owned_string(texts[i]);
                V_VT(&data[i]) = VT_BSTR;
            }
        } else {
            data[i] = parse_element<T>(texts[i], type);
        }
    }
}

template<typename T> void append_elements(SAFEARRAY* array, std::size_t count, value_list& values)
{
    const elements<T> data(array);
    for (std::size_t i = 0; i < count; ++i) {
        if constexpr (std::is_same_v<T, VARIANT>) {
            values.texts.push_back(variant_text(data[i]));
            values.numbers.push_back(variant_number(data[i]));
        } else if constexpr (std::is_same_v<T, BSTR>) {
            values.texts.push_back(bstr_to_utf8(data[i]));
            values.numbers.push_back(std::numeric_limits<double>::quiet_NaN());
        } else if constexpr (std::is_floating_point_v<T>) {
            values.texts.push_back(number_text(data[i]));
            values.numbers.push_back(data[i]);
        } else {
            values.texts.push_back(number_text(static_cast<long long>(data[i])));
            values.numbers.push_back(data[i]);
        }
    }
}

} // namespace

element_type parse_element_type(std::string_view name)
{
    for (std::size_t i = 0; i < std::size(types); ++i)
        if (name == types[i].name)
            return static_cast<element_type>(i);
    throw usage_error("unknown type " + quoted(name) + ": the types are i2, i4, r4, r8, str, any and ui1");
}

std::string type_name(element_type type) { return facts(type).name; }

NumberType number_type(element_type type) { return facts(type).code; }

bool is_block_type(element_type type) { return element_size(type) != 0; }

std::size_t element_size(element_type type) { return morvane::number_size(facts(type).vt); }

morvane::unique_safearray make_array(element_type type, std::span<const std::string> texts)
{
    morvane::unique_safearray array = new_vector(facts(type).vt, texts.size());
    switch (type) {
    case element_type::i2: fill<SHORT>(array.get(), texts, type); break;
    case element_type::i4: fill<LONG>(array.get(), texts, type); break;
    case element_type::r4: fill<float>(array.get(), texts, type); break;
    case element_type::r8: fill<double>(array.get(), texts, type); break;
    case element_type::str: fill<BSTR>(array.get(), texts, type); break;
    case element_type::any: fill<VARIANT>(array.get(), texts, type); break;
    case element_type::ui1: fill<BYTE>(array.get(), texts, type); break;
    }
    return array;
}

morvane::unique_safearray array_from_bytes(element_type type, std::span<const unsigned char> bytes)
{
    const std::size_t size = element_size(type);
    if (size == 0 || bytes.size() % size != 0)
        throw usage_error("the data is " + std::to_string(bytes.size()) + " bytes long, no whole number of " +
                          type_name(type) + " elements");
    morvane::unique_safearray array = new_vector(facts(type).vt, bytes.size() / size);
    if (!bytes.empty()) {
        const morvane::safearray_data data(array.get());
        std::memcpy(data.bytes(), bytes.data(), bytes.size());
    }
    return array;
}

value_list read_values(const VARIANT& data)
{
    value_list values;
    if (V_VT(&data) == VT_EMPTY)
        return values; // a block without data
    if (!(V_VT(&data) & VT_ARRAY)) {
        values.texts.push_back(variant_text(data));
        values.numbers.push_back(variant_number(data));
        return values;
    }
    SAFEARRAY* array = (V_VT(&data) & VT_BYREF) ? *V_ARRAYREF(&data) : V_ARRAY(&data);
    if (!array || SafeArrayGetDim(array) != 1)
        throw std::runtime_error("the result is no one-dimensional array");
    const std::size_t count = array->rgsabound[0].cElements;
    switch (V_VT(&data) & VT_TYPEMASK) {
    case VT_I2: append_elements<SHORT>(array, count, values); break;
    case VT_I4: append_elements<LONG>(array, count, values); break;
    case VT_R4: append_elements<float>(array, count, values); break;
    case VT_R8: append_elements<double>(array, count, values); break;
    case VT_BSTR: append_elements<BSTR>(array, count, values); break;
    case VT_VARIANT: append_elements<VARIANT>(array, count, values); break;
    case VT_UI1: append_elements<BYTE>(array, count, values); break;
    default: throw std::runtime_error("the result is an array of type " + std::to_string(V_VT(&data) & VT_TYPEMASK));
    }
    return values;
}

} // namespace fmtio
