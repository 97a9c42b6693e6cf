#pragma once
// A list of values of one element type between a safe array and the wire. WriteList loads it
// from the caller's array and writes it as one separated list.
//
// Elements that need no conversion are read where they lie in the caller's array, which is
// held open for the formatter's life; the others are converted into values of its own when
// the array is loaded, so that a failed conversion stops the list before anything is written.
#include <windows.h>
#include <oaidl.h>
#include <optional>
#include <string>
#include <vector>
#include "platform/safearray.hpp"
#include "platform/variant.hpp"
#include "stream/comio_stream.hpp"

namespace morvane {

class ieee488_formatter {
public:
    // `separators`: for writing, its first byte goes between elements. `type`: an element code.
    ieee488_formatter(std::string separators, VARTYPE type) : m_type(type), m_separators(std::move(separators)) {}
    virtual ~ieee488_formatter();
    ieee488_formatter(const ieee488_formatter&) = delete;
    ieee488_formatter& operator=(const ieee488_formatter&) = delete;

    // The elements of the one-dimensional array that `data` holds, each in the element type.
    void load_array(const VARIANT& data);
    // The elements, separated, without anything before or after them.
    void write_list(basic_comostream& out);

private:
    std::size_t size() const noexcept { return m_in_place ? m_count : m_values.size(); }
    // Element i as a VARIANT that the formatter or the caller owns (not to be cleared).
    VARIANT element(std::size_t i) const noexcept;
    void write_text_element(basic_comostream& out, const VARIANT& value);

    VARTYPE m_type;
    std::vector<unique_variant> m_values; // elements converted on loading
    std::string m_separators;
    // Elements read where they lie: the array held open, its element type and count.
    std::optional<safearray_data> m_in_place;
    VARTYPE m_in_place_type = VT_EMPTY;
    std::size_t m_count = 0;
};

} // namespace morvane
