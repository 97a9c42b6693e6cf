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
    if (!in_fragment_)
        return std::span(header_).subspan(header_got_);
    if (filled_ == record_.size()) {
        // The buffer grows as the data come, doubling, never past what the fragment claims: a
        // mark that claims megabytes and sends nothing costs no more than `ahead_`.
        const std::size_t step = std::max(ahead_, record_.size());
        record_.resize(filled_ + std::min(step, fragment_left_));
    }
    return std::span(record_).subspan(filled_, std::min(record_.size() - filled_, fragment_left_));
}

void record_receiver::received(std::size_t count)
{
    if (in_fragment_) {
        filled_ += count;
        fragment_left_ -= count;
        in_fragment_ = fragment_left_ > 0;
        return;
    }
    header_got_ += count;
    if (header_got_ < header_.size())
        return;
    header_got_ = 0;
    const std::uint32_t mark = std::uint32_t(header_[0]) << 24 | std::uint32_t(header_[1]) << 16 |
                               std::uint32_t(header_[2]) << 8 | header_[3];
    const std::size_t length = mark & ~rpc::last_fragment;
    if (length > limit_ - filled_)
        throw xdr_error("an RPC record of more than " + std::to_string(limit_) + " bytes (a fragment of " +
                        std::to_string(length) + ")");
    last_ = (mark & rpc::last_fragment) != 0;
    fragment_left_ = length;
    in_fragment_ = length > 0;
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
    last_ = false;
    record_.resize(filled_); // smaller: no allocation
    filled_ = 0;
    return std::exchange(record_, {});
}

} // namespace morvane::oncrpc
