#pragma once
// A list of values of one element type between a safe array and the wire. WriteList loads it
// from the caller's array and writes it as one separated list; ReadList and ReadNumber have the
// response parser read a response into it and store it as a safe array.
//
// Elements that need no conversion are read where they lie in the caller's array, which is
// held open for the formatter's life; the others are converted into values of its own when
// the array is loaded, so that a failed conversion stops the list before anything is written.
#include <windows.h>
#include <oaidl.h>
#include <optional>
#include <string>
#include <vector>
#include "format/parsed_values.hpp"
#include "platform/safearray.hpp"
#include "platform/variant.hpp"
#include "stream/comio_stream.hpp"

namespace morvane {

class ieee488_formatter {
public:
    // `separators`: for writing, its first byte goes between elements; for reading, each byte
    // separates items. `type`: an element code. `pool`: where the blocks of a long read come from.
    ieee488_formatter(std::string separators, VARTYPE type, block_pool* pool = nullptr)
        : m_type(type), m_separators(std::move(separators)), m_pool(pool)
    {}
    virtual ~ieee488_formatter();
    ieee488_formatter(const ieee488_formatter&) = delete;
    ieee488_formatter& operator=(const ieee488_formatter&) = delete;

    // The elements of the one-dimensional array that `data` holds, each in the element type.
    void load_array(const VARIANT& data);
    // The elements, separated, without anything before or after them.
    void write_list(basic_comostream& out);

    // Reading, which the response parser does: an empty list of values of `type`, read from
    // `in`; each item it reads (what that owns is taken over); the list as a one-dimensional
    // array of the element type with lower bound 0; the first number, std::out_of_range when
    // none was read.
    void start_reading(basic_comistream& in, VARTYPE type)
    {
        m_parsed.emplace(type, m_pool);
        m_stream = &in;
    }
    basic_comistream& stream() const noexcept { return *m_stream; }
    void append_parsed(VARIANT& value) { m_parsed->take(value); }
    template<typename Number> void push_parsed(Number value) { m_parsed->push(value); }
    parsed_values& parsed() noexcept { return *m_parsed; }
    void store_array(VARIANT& result);
    double first_value() const;

    VARTYPE type() const noexcept { return m_type; }
    const std::string& separators() const noexcept { return m_separators; }

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

    // Reading: the stream, and the values read in the type of the read.
    block_pool* m_pool;
    basic_comistream* m_stream = nullptr;
    std::optional<parsed_values> m_parsed;
};

} // namespace morvane
