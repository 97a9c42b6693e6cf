#pragma once
// SCPI error codes and the instrument's bounded error queue.
#include <cstddef>
#include <deque>
#include <exception>
#include <string>

namespace morvane::sim {

namespace scpi {
inline constexpr int no_error = 0;
inline constexpr int syntax_error = -102;
inline constexpr int invalid_separator = -103;
inline constexpr int data_type_error = -104;
inline constexpr int parameter_not_allowed = -108;
inline constexpr int missing_parameter = -109;
inline constexpr int undefined_header = -113;
inline constexpr int suffix_not_allowed = -138;
inline constexpr int invalid_block_data = -161;
inline constexpr int init_ignored = -213;
inline constexpr int data_out_of_range = -222;
inline constexpr int too_much_data = -223;
inline constexpr int illegal_parameter_value = -224;
inline constexpr int queue_overflow = -350;
inline constexpr int query_interrupted = -410;
inline constexpr int query_unterminated = -420;
} // namespace scpi

// Thrown by parsing and command handlers; the dispatcher turns it into a queue entry.
class scpi_failure : public std::exception {
public:
    explicit scpi_failure(int code) noexcept : m_code(code) {}
    int code() const noexcept { return m_code; }
    const char* what() const noexcept override { return "SCPI command error"; }

private:
    int m_code;
};

// `-113,"Undefined header"`, as SYSTem:ERRor? answers.
std::string error_entry(int code);

// First in, first out. When full, the newest entry is replaced by -350, so the oldest errors,
// which usually explain the later ones, survive.
class error_queue {
public:
    static constexpr std::size_t capacity = 10;

    // Whether it found room: else the newest entry became -350.
    bool push(int code);
    // The oldest entry, or `0,"No error"`.
    std::string pop();
    void clear() noexcept { m_codes.clear(); }
    bool empty() const noexcept { return m_codes.empty(); }

private:
    std::deque<int> m_codes;
};

} // namespace morvane::sim
