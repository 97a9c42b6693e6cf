#include "oncrpc/record_receiver.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include "oncrpc/rpc_numbers.hpp"
#include "oncrpc/xdr.hpp"

namespace morvane::oncrpc {

std::span<unsigned char> record_receiver::space()
{
    if (complete())
        return {};
    if (!m_in_fragment)
        return std::span(m_header).subspan(m_header_got);
    if (m_filled == m_record.size()) {
        // The buffer grows as the data come, doubling, never past what the fragment claims: a
        // mark that claims megabytes and sends nothing costs no more than `m_ahead`.
        const std::size_t step = std::max(m_ahead, m_record.size());
        m_record.resize(m_filled + std::min(step, m_fragment_left));
    }
    return std::span(m_record).subspan(m_filled, std::min(m_record.size() - m_filled, m_fragment_left));
}

void record_receiver::received(std::size_t count)
{
    if (m_in_fragment) {
        m_filled += count;
        m_fragment_left -= count;
        m_in_fragment = m_fragment_left > 0;
        return;
    }
    m_header_got += count;
    if (m_header_got < m_header.size())
        return;
    m_header_got = 0;
    const std::uint32_t mark = std::uint32_t(m_header[0]) << 24 | std::uint32_t(m_header[1]) << 16 |
                               std::uint32_t(m_header[2]) << 8 | m_header[3];
    const std::size_t length = mark & ~rpc::last_fragment;
    if (length > m_limit - m_filled)
        throw xdr_error("an RPC record of more than " + std::to_string(m_limit) + " bytes (a fragment of " +
                        std::to_string(length) + ")");
    m_last = (mark & rpc::last_fragment) != 0;
    m_fragment_left = length;
    m_in_fragment = length > 0;
}

std::size_t record_receiver::feed(std::span<const unsigned char> bytes)
{
    std::size_t taken = 0;
    while (taken < bytes.size() && !complete()) {
        const std::span<unsigned char> space = this->space();
        const std::size_t count = std::min(space.size(), bytes.size() - taken);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(taken), count, space.begin());
        received(count);
        taken += count;
    }
    return taken;
}

std::vector<unsigned char> record_receiver::take() noexcept
{
    m_last = false;
    m_record.resize(m_filled); // smaller: no allocation
    m_filled = 0;
    return std::exchange(m_record, {});
}

} // namespace morvane::oncrpc
