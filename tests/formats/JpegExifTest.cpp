// Orientation from EXIF: every value in both byte orders, damaged blocks that
// must read as "none", and decoding that the segment does not change.
#include "formats/Jpeg.h"
#include "formats/JpegExif.h"
#include "image/Streams.h"
#include "support/ExifBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rastova {
namespace {

std::vector<std::uint8_t> SmallJpeg()
{
    TPixelGraphic image;
    test::FillRandom(image, 17, 9, bc24, 7);
    return test::WriteWith<TJPGFileFormatWriter>(image);
}

TExifOrientation OrientationOf(const std::vector<std::uint8_t>& bytes)
{
    TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
    return ReadJpegOrientation(stream);
}

TEST(JpegExifTest, EveryOrientationInBothByteOrders)
{
    const std::vector<std::uint8_t> plain = SmallJpeg();
    TPixelGraphic expected;
    test::ReadWith<TJPGFileFormatReader>(plain, expected);
    for (const bool bigEndian : {false, true})
        for (std::uint32_t value = 1; value <= 8; ++value) {
            const auto tagged = test::WithApp1(plain, test::ExifPayload(value, bigEndian));
            EXPECT_EQ(OrientationOf(tagged), TExifOrientation(value)) << value << " big endian " << bigEndian;
            TPixelGraphic decoded;
            test::ReadWith<TJPGFileFormatReader>(tagged, decoded);
            std::string why;
            EXPECT_TRUE(test::SamePixels(expected, decoded, &why)) << why;
        }
    EXPECT_EQ(OrientationOf(plain), eoNone);
}

TEST(JpegExifTest, DamagedOrForeignSegmentsReadAsNone)
{
    const std::vector<std::uint8_t> plain = SmallJpeg();
    const auto good = test::ExifPayload(6, false);
    const auto cut = [&](std::size_t size) { return std::vector<std::uint8_t>(good.begin(), good.begin() + long(size)); };
    auto badOrder = good;
    badOrder[6] = 'I', badOrder[7] = 'M';
    auto farIfd = good;
    farIfd[10] = 0xF0;
    auto manyEntries = good;
    manyEntries[14] = 0xFF;
    manyEntries[15] = 0xFF;
    manyEntries[28] = 0x13;  // no Orientation among the entries that are there
    auto xmp = good;
    xmp[0] = 'h';
    const struct {
        const char* name;
        std::vector<std::uint8_t> payload;
    } cases[] = {
        {"value 0", test::ExifPayload(0, false)},
        {"value 9", test::ExifPayload(9, true)},
        {"LONG instead of SHORT", test::ExifPayload(6, false, 4)},
        {"header only", cut(6)},
        {"cut inside the TIFF header", cut(10)},
        {"cut inside the Orientation entry", cut(30)},
        {"unknown byte order", badOrder},
        {"IFD beyond the segment", farIfd},
        {"more entries than bytes", manyEntries},
        {"not EXIF", xmp},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OrientationOf(test::WithApp1(plain, c.payload)), eoNone) << c.name;

    // Damage at the marker level: every prefix of a tagged file, and a length
    // that runs past the end.
    const auto tagged = test::WithApp1(plain, good);
    for (std::size_t size = 0; size < 6 + good.size(); ++size)
        EXPECT_EQ(OrientationOf(std::vector<std::uint8_t>(tagged.begin(), tagged.begin() + long(size))), eoNone)
            << size;
    auto longSegment = tagged;
    longSegment[4] = 0xFF;
    EXPECT_EQ(OrientationOf(longSegment), eoNone);
    // A second APP1 (say XMP) before the EXIF one does not hide it.
    EXPECT_EQ(OrientationOf(test::WithApp1(test::WithApp1(plain, good), xmp)), eoRightTop);
}

// The segment's end is the end, whatever lies behind it in memory: here the
// Orientation entry follows, in the same buffer, a segment that ends before it.
TEST(JpegExifTest, EntriesPastTheSegmentAreNotRead)
{
    for (const bool bigEndian : {false, true}) {
        const auto payload = test::ExifPayload(6, bigEndian);
        const struct {
            std::size_t size;
            TExifOrientation expected;
        } cases[] = {{payload.size(), eoRightTop}, {40, eoRightTop}, {39, eoNone}, {28, eoNone}, {20, eoNone}};
        for (const auto& c : cases)
            EXPECT_EQ(ExifOrientationOfApp1(payload.data(), c.size), c.expected) << c.size << " " << bigEndian;
    }
}

}  // namespace
}  // namespace rastova
