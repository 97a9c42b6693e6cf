// Record marking: fragments joined however the stream is cut; XDR input that ends early.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "oncrpc/record_receiver.hpp"
#include "oncrpc/xdr.hpp"

namespace {

using namespace morvane::oncrpc;
using bytes = std::vector<unsigned char>;

// Records whole and in order however cut; large data straight in; a cut-off record gives none. Input that ends
// early is refused where it ends, not read past: a field cut short, an opaque without its padding.
TEST(Xdr, RecordsJoinedHoweverCutAndFieldsRefusedWhereTheyEndEarly)
{
    bytes stream{0, 0, 0,   3,   'a',  'b', 'c', 0, 0,   0,    0, 0x80, 0,
                 0, 2, 'd', 'e', 0x80, 0,   0,   1, 'f', 0x80, 0, 0x17, 0x70};
    const std::string large(6000, 'x'); // more than the staging buffer holds
    stream.insert(stream.end(), large.begin(), large.end());
    stream.insert(stream.end(), {0x80, 0, 0, 1, 'g'});
    for (const std::size_t cut : {std::size_t{0}, std::size_t{10}}) {
        const std::size_t size = stream.size() - cut;
        for (const std::size_t piece : {1u, 3u, 22u, 4096u, 100000u}) {
            record_stream records(10000);
            std::size_t at = 0, receives = 0;
            const auto receive = [&](std::span<unsigned char> into) {
                ++receives;
                const std::size_t n = std::min({piece, into.size(), size - at});
                std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), n, into.begin());
                at += n;
                return n;
            };
            std::vector<std::string> got;
            while (const auto record = records.next(receive))
                got.emplace_back(record->begin(), record->end());
            const std::vector<std::string> whole{"abcde", "f", large, "g"};
            EXPECT_EQ(got, cut ? std::vector<std::string>(whole.begin(), whole.begin() + 2) : whole) << piece;
            EXPECT_EQ(at, size);
            if (piece == 100000 && !cut) {
                EXPECT_EQ(receives, 3u); // the staging buffer's worth, the rest of the large record, the end
            }
        }
    }
    for (const bytes& fragments :
         {bytes{0x80, 0, 0, 6}, bytes{0xFF, 0xFF, 0xFF, 0xFF}, bytes{0, 0, 0, 3, 'a', 'b', 'c', 0x80, 0, 0, 3}}) {
        record_stream records(5);
        std::size_t at = 0;
        EXPECT_THROW(records.next([&](std::span<unsigned char> into) {
            into[0] = fragments[at++ % fragments.size()];
            return std::size_t{1};
        }),
                     xdr_error)
            << fragments.size();
    }
    const bytes field{0, 0, 1}, opaque{0, 0, 0, 5, 'a', 'b', 'c', 'd', 'e'};
    EXPECT_THROW(xdr_reader(field).get(), xdr_error);
    EXPECT_THROW(xdr_reader(opaque).get_string(8), xdr_error);
}

} // namespace
