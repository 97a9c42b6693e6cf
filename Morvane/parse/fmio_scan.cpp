#include "parse/fmio_scan.hpp"

#include <cstring>

namespace morvane {
namespace {

// As in drop_token: one byte moved by hand.
void move_bytes(unsigned char* to, const unsigned char* from, int count) noexcept
{
    if (count == 1)
        *to = *from;
    else if (count > 1)
        std::memmove(to, from, static_cast<std::size_t>(count));
}

} // namespace

fmio_scan::fmio_scan() noexcept
{
    for (int byte = 0; byte < 256; ++byte)
        m_map[byte] = static_cast<unsigned char>(byte);
}

void fmio_scan::fatal(const char* message)
{
    error("%s", message);
    throw scan_aborted{};
}

scan_rule fmio_scan::match()
{
    for (;;) {
        drop_token();
        scan_automaton::state state = scan_automaton::start(m_condition);
        scan_rule rule = no_rule;
        int accepted = 0;
        for (int i = 0;; ++i) {
            // Checked before the end of the data is noticed: a token still growing at the
            // limit fails even where the response ends.
            if (i >= token_buffer_size)
                fatal("Token buffer overflow");
            int byte;
            if (i < m_fill) {
                byte = m_buffer[i];
            } else {
                byte = take();
                if (byte == end_of_data)
                    break;
                m_buffer[i] = static_cast<unsigned char>(byte);
                m_fill = i + 1;
            }
            state = scan_automaton::next(state, static_cast<unsigned char>(byte));
            if (state == scan_automaton::dead)
                break;
            if (scan_automaton::rule(state) != no_rule) {
                rule = scan_automaton::rule(state);
                accepted = i + 1;
            }
            if (!scan_automaton::can_grow(state))
                break;
        }
        if (m_fill == 0) {
            if (wrap())
                return no_rule;
            continue;
        }
        if (accepted == 0) {
            output(m_buffer[0]);
            m_token_length = 1;
            continue;
        }
        m_token_length = accepted;
        return rule;
    }
}

int fmio_scan::read_char()
{
    if (m_fill <= m_token_length)
        return take();
    unsigned char* held = m_buffer.data() + m_token_length;
    const int byte = held[0];
    move_bytes(held, held + 1, m_fill - m_token_length - 1);
    --m_fill;
    return byte;
}

void fmio_scan::unread_char(int byte)
{
    if (m_fill >= token_buffer_size)
        fatal("Push-back buffer overflow");
    unsigned char* held = m_buffer.data() + m_token_length;
    move_bytes(held + 1, held, m_fill - m_token_length);
    held[0] = static_cast<unsigned char>(byte);
    ++m_fill;
}

} // namespace morvane
