// PNG image data deflated in blocks on threads: every colour type and bit depth
// the writer makes, with block boundaries in awkward places, reads back through
// libpng to the same pixels, and the bytes do not depend on the threads.
#include "formats/PngBlocks.h"

#include "image/PGraphic.h"
#include "image/PGSettings.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace rastova {
namespace {

struct TImageCase {
    const char* Name;
    TBitCount BitCount;
    bool Gray;  // bc8 as a gray PNG
};

const TImageCase kImages[] = {
    {"bc1", bc1, false}, {"bc4", bc4, false}, {"bc8Palette", bc8, false}, {"bc8Gray", bc8, true}, {"bc24", bc24, false}, {"bc32", bc32, false},
};

std::vector<std::uint8_t> Save(const TPixelGraphic& image, bool blocks, std::size_t blockBytes = 0, int threads = 0)
{
    TPGSettings settings = DefaultSettings();
    settings.PNGBlockCompression = blocks;
    settings.PNGBlockBytes = blockBytes;
    settings.PNGWriteThreads = threads;
    TMemoryStream stream;
    TPixelGraphic copy;
    copy.Assign(&image);
    copy.SaveToStreamExt(stream, "png", settings);
    return stream.Data();
}

TEST(PngBlocks, EveryFormatReadsBackWithBlocksEndingAnywhere)
{
    // Rows of 1 + 119 * bits / 8 bytes. Block sizes: one row each; several
    // blocks inside one 32 KB window; a block larger than the window with a
    // short last block; one block for the whole image.
    const std::size_t blockBytes[] = {1, 700, 40000, 0};
    for (const TImageCase& c : kImages) {
        TPixelGraphic image;
        test::FillRandom(image, 119, 301, c.BitCount, 7);
        if (c.Gray)
            image.SetPaletteIdent(pGray256);
        for (const std::size_t bytes : blockBytes) {
            SCOPED_TRACE(std::string(c.Name) + " blocks of " + std::to_string(bytes) + " bytes");
            const std::vector<std::uint8_t> one = Save(image, true, bytes, 1);
            EXPECT_EQ(Save(image, true, bytes, 3), one) << "the threads changed the bytes";
            TPixelGraphic back;
            TMemoryStream stream(one);
            back.LoadFromStreamExt(stream, "png", 0);
            std::string why;
            EXPECT_TRUE(test::SamePixels(image, back, &why)) << why;
        }
    }
}

// A smooth picture, as photos are: the blocks cost well under one percent.
TEST(PngBlocks, StayWithinOnePercentOfOneStream)
{
    for (const TImageCase& c : {kImages[3], kImages[4]}) {
        TPixelGraphic image;
        image.SetSize(900, 700, c.BitCount);
        if (c.Gray)
            image.SetPaletteIdent(pGray256);
        for (int y = 0; y < 700; ++y)
            for (int x = 0; x < 900; ++x) {
                const double v = 127 + 60 * std::sin(x / 37.0) * std::cos(y / 23.0) + ((x * 7 + y * 13) % 5);
                const int g = int(v), r = int(v * 0.8 + x / 9), b = int(255 - v * 0.7);
                image.SetColor(x, y, RGBValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)));
            }
        const double single = double(Save(image, false).size());
        const double blocked = double(Save(image, true, 64 << 10).size());
        SCOPED_TRACE(c.Name);
        EXPECT_LT(blocked, single * 1.01);
        EXPECT_GT(blocked, single * 0.97) << "not the same filters and level as libpng";
    }
}

}  // namespace
}  // namespace rastova
