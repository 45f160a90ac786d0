// Pixel data that ends before the image is full is a reader warning in BMP and
// GIF files: ignored, it loads as before; answered, it is one question; raised,
// it is the reader's error with the same text. Whole files ask nothing.
#include "formats/Bmp.h"
#include "formats/Gif.h"
#include "image/PGExceptions.h"
#include "support/TestSupport.h"

#include "GifTestEncoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rastova;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A BMP file: file header, 40-byte info header, then extra (masks or table) and pixels.
Bytes BmpFile(int width, int height, int bits, std::uint32_t compression, std::uint32_t sizeImage,
              const Bytes& extra, const Bytes& pixels)
{
    const std::uint32_t offBits = 14 + 40 + std::uint32_t(extra.size());
    test::TByteBuilder b;
    b.Text("BM").U32LE(offBits + std::uint32_t(pixels.size())).U32LE(0).U32LE(offBits);
    b.U32LE(40).U32LE(std::uint32_t(width)).U32LE(std::uint32_t(height)).U16LE(1).U16LE(std::uint32_t(bits));
    b.U32LE(compression).U32LE(sizeImage).U32LE(0).U32LE(0).U32LE(0).U32LE(0);
    return b.Bytes(extra).Bytes(pixels).Data();
}

Bytes Cut(const Bytes& bytes, std::size_t drop)
{
    return Bytes(bytes.begin(), bytes.end() - std::ptrdiff_t(drop));
}

struct TCase {
    const char* what;
    Bytes file;
    bool gif;
    const char* warning;  // "" for none
};

std::vector<TCase> Cases()
{
    TPixelGraphic image;
    test::FillRandom(image, 9, 7, bc24, 3);
    const Bytes truecolor = test::WriteWith<TBMPFileFormatWriter>(image);  // rows of 27 bytes padded to 28
    test::FillRandom(image, 13, 5, bc8, 4);
    const Bytes palette = test::WriteWith<TBMPFileFormatWriter>(image);  // rows of 13 bytes padded to 16
    const Bytes masks = test::TByteBuilder().U32LE(0xF800).U32LE(0x07E0).U32LE(0x001F).Data();
    const Bytes sixteen = BmpFile(3, 2, 16, 3, 0, masks, Bytes(16, 0x5A));  // rows of 6 bytes padded to 8
    Bytes gray(256 * 4);
    for (std::size_t i = 0; i < gray.size(); ++i)
        gray[i] = i % 4 == 3 ? 0 : std::uint8_t(i / 4);
    const Bytes runs{4, 7, 0, 0, 4, 9, 0, 1};  // two rows of four, then the end code
    test::TByteBuilder core;
    core.Text("BM").U32LE(14 + 12 + 16).U32LE(0).U32LE(14 + 12).U32LE(12).U16LE(2).U16LE(2).U16LE(1).U16LE(24);
    const Bytes os2 = core.Bytes(Bytes(16, 0x33)).Data();  // rows of 6 bytes padded to 8

    std::vector<std::uint8_t> indices(8 * 6);
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = std::uint8_t(i * 5 % 16);
    std::vector<TRGB> table(16);
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = RGBValue(std::uint8_t(i * 16), 0, 255);
    test::TTestFrame frame{8, 6, indices, 0, {}, false, {}};
    frame.lzw.minCodeSize = 4;
    const Bytes gif = test::TGifFileBuilder(8, 6, 4, table).Frame(frame).Trailer().Data();
    test::TTestFrame early = frame;
    early.indices.resize(8 * 2 + 3);  // the end code after two rows and three pixels
    const Bytes gifEarly = test::TGifFileBuilder(8, 6, 4, table).Frame(early).Trailer().Data();

    return {
        {"24-bit, whole", truecolor, false, ""},
        {"24-bit, last row without its padding", Cut(truecolor, 1), false, ""},
        {"24-bit, last row short", Cut(truecolor, 2), false, "BMP: Pixel data ends after 194 of 195 bytes"},
        {"8-bit, cut inside the second row", Cut(palette, 16 * 3 + 5), false,
         "BMP: Pixel data ends after 27 of 77 bytes"},
        {"16-bit masks, whole", sixteen, false, ""},
        {"16-bit masks, cut", Cut(sixteen, 6), false, "BMP: Pixel data ends after 10 of 14 bytes"},
        {"OS/2 header, cut", Cut(os2, 9), false, "BMP: Pixel data ends after 7 of 14 bytes"},
        {"RLE8 whole, biSizeImage too large", BmpFile(4, 2, 8, 1, 30, gray, runs), false, ""},
        {"RLE8 without its end, cut", Cut(BmpFile(4, 2, 8, 1, 8, gray, runs), 4), false,
         "BMP: Pixel data ends after 4 of 8 bytes"},
        {"GIF, whole", gif, true, ""},
        {"GIF, end code after two rows", gifEarly, true, "GIF: Image data ends after 2 of 6 rows"},
        {"GIF, data cut", Cut(gif, 12), true, "GIF: Image data ends after "},
    };
}

std::string Load(const TCase& c, TPixelGraphic& image)
{
    return test::MessageOf([&] {
        if (c.gif)
            test::ReadWith<tGifFileFormatReader>(c.file, image);
        else
            test::ReadWith<TBMPFileFormatReader>(c.file, image);
    });
}

}  // namespace

TEST(ReaderWarnings, ShortPixelDataFollowsTheWarningAction)
{
    for (const TCase& c : Cases()) {
        const std::string expected = c.warning;
        const auto matches = [&](const std::string& text) { return text.rfind(expected, 0) == 0; };
        {
            test::TQuestionRecorder questions(qaOK);
            TPixelGraphic ignored;
            ignored.SetReadWarningAction(pgwaIgnore);
            EXPECT_EQ(Load(c, ignored), "(nothing raised)") << c.what;
            EXPECT_TRUE(questions.texts.empty()) << c.what;

            TPixelGraphic asked;
            asked.SetReadWarningAction(pgwaOKBox);
            EXPECT_EQ(Load(c, asked), "(nothing raised)") << c.what;
            ASSERT_EQ(questions.texts.size(), expected.empty() ? 0u : 1u) << c.what;
            if (!expected.empty()) {
                EXPECT_TRUE(matches(questions.texts[0])) << c.what << ": " << questions.texts[0];
                EXPECT_EQ(questions.captions[0], c.gif ? "GIF Warning" : "BMP Warning") << c.what;
            }
            // The answer changes nothing about what was read.
            std::string why;
            EXPECT_TRUE(test::SamePixels(asked, ignored, &why)) << c.what << ": " << why;
        }
        TPixelGraphic strict;
        strict.SetReadWarningAction(pgwaRaise);
        const std::string raised = Load(c, strict);
        if (expected.empty())
            EXPECT_EQ(raised, "(nothing raised)") << c.what;
        else
            EXPECT_TRUE(matches(raised)) << c.what << ": " << raised;
    }
}
