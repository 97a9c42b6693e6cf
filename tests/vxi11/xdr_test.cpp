// XDR and record marking: the bytes written, and malformed input refused without reading
// past its end.
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>
#include "oncrpc/record_receiver.hpp"
#include "oncrpc/xdr.hpp"

namespace {

using namespace morvane::oncrpc;
using bytes = std::vector<unsigned char>;

TEST(Xdr, WriterPadsAndMarksTheRecord)
{
    xdr_writer out;
    out.put(0x01020304);
    out.put_string("abcde");
    out.put_opaque(bytes{9, 8, 7, 6});
    const auto record = out.record();
    EXPECT_EQ(bytes(record.begin(), record.end()), (bytes{0x80, 0,   0,   24, 1, 2, 3, 4, 0, 0, 0, 5, 'a', 'b',
                                                          'c',  'd', 'e', 0,  0, 0, 0, 0, 0, 4, 9, 8, 7,   6}));
    xdr_writer shrunk;
    shrunk.put_opaque_space(7)[0] = 'x';
    shrunk.shrink_opaque(1);
    const auto message = shrunk.message();
    EXPECT_EQ(bytes(message.begin(), message.end()), (bytes{0, 0, 0, 1, 'x', 0, 0, 0}));
}

TEST(Xdr, ReaderTakesWhatTheWriterWrote)
{
    const bytes in{0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 3, 'i', 'n', 's', 0, 0, 0, 0, 1};
    xdr_reader reader(in);
    EXPECT_EQ(reader.get_signed(), -2);
    EXPECT_EQ(reader.get_string(3), "ins");
    EXPECT_TRUE(reader.get_bool());
    EXPECT_EQ(reader.left(), 0u);
}

// Each input fails cleanly where it goes wrong, and nothing beyond it is read.
TEST(Xdr, ReaderRefusesMalformedInput)
{
    const struct {
        const char* what;
        bytes in;
        std::function<void(xdr_reader&)> read;
    } cases[] = {
        {"a field cut short", {0, 0, 1}, [](xdr_reader& r) { r.get(); }},
        {"nothing left", {}, [](xdr_reader& r) { r.get(); }},
        {"a length past the end", {0, 0, 0, 9, 'a', 'b', 'c', 'd'}, [](xdr_reader& r) { r.get_opaque(100); }},
        {"a huge length", {0xFF, 0xFF, 0xFF, 0xFF, 'a'}, [](xdr_reader& r) { r.get_opaque(0xFFFFFFFF); }},
        {"padding missing", {0, 0, 0, 5, 'a', 'b', 'c', 'd', 'e'}, [](xdr_reader& r) { r.get_string(8); }},
        {"a length over the limit",
         {0, 0, 0, 5, 'a', 'b', 'c', 'd', 'e', 0, 0, 0},
         [](xdr_reader& r) { r.get_string(4); }},
    };
    for (const auto& c : cases) {
        xdr_reader reader(c.in);
        EXPECT_THROW(c.read(reader), xdr_error) << c.what;
    }
}

// Records come out whole and in order however the stream is cut: a mark and the short records
// behind it from one receive, what came past a record kept for the next, large data straight
// in; a stream that ends within a record gives none.
TEST(Xdr, RecordStreamJoinsFragmentsHoweverTheStreamIsCut)
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
}

} // namespace
