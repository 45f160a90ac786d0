#include "formats/Pxm.h"

#include "formats/Register.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace rastova;

namespace {

// Loads text through the registry, as a file would be.
void LoadText(TPixelGraphic& image, const std::string& text)
{
    TMemoryStream stream(text.data(), text.size());
    image.LoadFromStream(stream);
}

std::string ReadError(const std::string& text)
{
    TPixelGraphic image;
    try {
        LoadText(image, text);
    } catch (const EPixelGraphic& e) {
        return e.what();
    }
    return "(no error)";
}

std::string Written(TPixelGraphic& image, TFileFormatWriter&& writer)
{
    TMemoryStream stream;
    writer.Write(stream, image);
    return std::string(stream.Data().begin(), stream.Data().end());
}

}  // namespace

TEST(PxmReader, TokenizerRules)
{
    TPixelGraphic g;
    // 1 is black (index 0), 0 white (index 1).
    LoadText(g, "P1\n2 1\n1 0\n");
    ASSERT_EQ(g.BitCount(), bc1);
    EXPECT_EQ(g.PaletteIdent(), pBlackWhite);
    EXPECT_EQ(g.GetPixel(0, 0), 0u);
    EXPECT_EQ(g.GetPixel(1, 0), 1u);

    // Digits without separators are one sample.
    LoadText(g, "P1\n1 1\n0110\n");
    EXPECT_EQ(g.GetPixel(0, 0), 0u);

    // Comments anywhere a character is read, even right behind a number's digits.
    LoadText(g, "P2\n# made by hand\n2# width\n1\n#max next\n15\n0 15\n");
    ASSERT_EQ(g.BitCount(), bc8);
    EXPECT_EQ(g.PaletteIdent(), pGray256);
    EXPECT_EQ(g.Width(), 2);
    EXPECT_EQ(g.GetPixel(0, 0), 0u);
    EXPECT_EQ(g.GetPixel(1, 0), 255u);

    // Anything that is not a digit is skipped, signs included.
    LoadText(g, "P2 -3 x1 255 1 2 3");
    EXPECT_EQ(g.Width(), 3);
    EXPECT_EQ(g.GetPixel(2, 0), 3u);

    // Exactly one separator byte lies between the header and raw data,
    // even when that first data byte looks like white space or a digit.
    LoadText(g, std::string("P5 2 1 255\n") + '\n' + '7');
    EXPECT_EQ(g.GetPixel(0, 0), 10u);
    EXPECT_EQ(g.GetPixel(1, 0), std::uint32_t('7'));
}

TEST(PxmReader, SamplesAreScaledAndColoursOrdered)
{
    TPixelGraphic g;
    LoadText(g, "P2 2 1 65535 65535 32768");
    EXPECT_EQ(g.GetPixel(0, 0), 255u);
    EXPECT_EQ(g.GetPixel(1, 0), std::uint32_t(32768 * 255 / 65535));

    LoadText(g, "P3 1 1 1 1 0 1");
    EXPECT_EQ(g.GetColor(0, 0), RGBValue(255, 0, 255));

    // Raw samples scale the same way, down: 4 of 7 is 145.7.
    LoadText(g, "P5 2 1 7\n" + std::string("\x04\x07", 2));
    EXPECT_EQ(g.GetPixel(0, 0), 145u);
    EXPECT_EQ(g.GetPixel(1, 0), 255u);

    LoadText(g, "P6 2 1 255\n" + std::string("\x01\x02\x03\x04\x05\x06", 6));
    EXPECT_EQ(g.GetColor(0, 0), RGBValue(1, 2, 3));
    EXPECT_EQ(g.GetColor(1, 0), RGBValue(4, 5, 6));

    // Raw bitmaps: rows are complemented bytes; the bits past the width come along.
    LoadText(g, "P4 10 2\n" + std::string("\xFF\x40\x00\x3F", 4));
    EXPECT_EQ(g.ScanLine(0)[0], 0x00);
    EXPECT_EQ(g.ScanLine(0)[1], 0xBF);
    EXPECT_EQ(g.ScanLine(1)[1], 0xC0);
    EXPECT_EQ(g.GetPixel(1, 0), 0u);  // black
    EXPECT_EQ(g.GetPixel(8, 1), 1u);  // white

    // Text samples above maxval keep the low 8 bits of the scaled value.
    LoadText(g, "P2 1 1 1 2");
    EXPECT_EQ(g.GetPixel(0, 0), std::uint32_t(510 & 0xFF));
}

TEST(PxmReader, ErrorsAndMessages)
{
    const std::string tag = "PBM, PGM, PPM: ";
    EXPECT_EQ(ReadError("P7 1 1 255 0"), "Unknown file format");  // no signature matches (PAM has a line feed)
    EXPECT_EQ(ReadError("P5 1 1 65535 \x01\x02"), "(no error)");  // one 16-bit sample
    EXPECT_EQ(ReadError("P5 1 1 65536 \x01\x02\x03"), tag + "Not supported subformat");
    EXPECT_EQ(ReadError("P2 1 1 0 0"), tag + "Not supported subformat");  // maxval 0 would divide by zero
    EXPECT_EQ(ReadError("P2 0 1 255"), tag + "Not supported subformat");
    EXPECT_EQ(ReadError("P5 2 2 255\n\x01\x02\x03"), tag + "Unexpected end of file");
    EXPECT_EQ(ReadError("P3 2 1 255 1 2 3 4"), tag + "Unexpected end of file");
    EXPECT_EQ(ReadError("P2 1"), tag + "Unexpected end of file");

    // Called directly, the shared reader checks the magic and the variant itself.
    TPBMFileFormatReader reader;
    TPixelGraphic g;
    const auto direct = [&](const std::string& text) {
        TMemoryStream s(text.data(), text.size());
        try {
            reader.Read(s, g, 0);
        } catch (const EPGPxMFileFormatReader& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(direct("Q1 1 1 0"), tag + "Not a PBM, PGM, PPM file");
    EXPECT_EQ(direct("P7 1 1 0"), tag + "Unknown subformat");
    TMemoryStream s(std::string("P1 1 1 0").data(), 8);
    try {
        reader.Read(s, g, 1);
        FAIL();
    } catch (const EPGPxMFileFormatReader& e) {
        EXPECT_STREQ(e.what(), "PxM: Index invalid");
    }
}

TEST(PxmReader, HugeHeadersAreRefusedBeforeAllocating)
{
    // 2 GB of pixels announced by a 20-byte file.
    EXPECT_EQ(ReadError("P5 46000 46000 255\n\x01"), "PBM, PGM, PPM: Unexpected end of file");
    // Numbers saturate rather than wrap to negative sizes; a row too long for
    // 32-bit strides is refused by the image itself.
    EXPECT_EQ(ReadError("P2 99999999999999999999 1 255 1"), "CreateDIBSection failed");
    EXPECT_EQ(ReadError("P2 1 99999999999999999999 255 1"), "PBM, PGM, PPM: Unexpected end of file");
}

TEST(PxmReader, ProgressPerRowAndAbortKeepsRows)
{
    TPixelGraphic g;
    test::TProgressLog log;
    log.abortAt = 1;
    log.Attach(g);
    LoadText(g, "P2 1 4 255 9 9 9 9");
    EXPECT_EQ(log.steps, (std::vector<int>{0, 1}));
    EXPECT_EQ(log.maxima, (std::vector<int>{4, 4}));
    EXPECT_EQ(g.GetPixel(0, 1), 9u);
    EXPECT_EQ(g.GetPixel(0, 2), 0u);  // not read after the abort
}

TEST(PxmReader, FileInfo)
{
    struct Row {
        std::string text, sub, colors;
        int bits, width, height;
    };
    const Row rows[] = {{"P1 3 2", "ASCII", "2", 1, 3, 2},
                        {"P5 #c\n7 8 255", "Binary", "256", 8, 7, 8},
                        {"P6 4 5 255", "Binary", "16.7M", 24, 4, 5}};
    for (const Row& r : rows) {
        TMemoryStream s(r.text.data(), r.text.size());
        TFileInfo info;
        ASSERT_TRUE(GetFileInfoFromStream(s, "", 0, info)) << r.text;
        EXPECT_EQ(info.SubFormatText, r.sub);
        EXPECT_EQ(info.ColorsText, r.colors);
        EXPECT_EQ(info.BitsPerPixel, r.bits);
        EXPECT_EQ(info.Width, r.width);
        EXPECT_EQ(info.Height, r.height);
        EXPECT_EQ(info.ImageCount, 1);
        EXPECT_EQ(s.Position(), 0);
    }
    TPGMFileFormatReader reader;
    TMemoryStream s(std::string("P2 1 1").data(), 6);
    TFileInfo info;
    try {
        reader.GetInfo(s, 1, info);
        FAIL();
    } catch (const EPGPxMFileFormatReader& e) {
        EXPECT_STREQ(e.what(), "PBM, PGM, PPM: Invalid value for Index");
    }
}

TEST(PxmWriter, TextLayout)
{
    TPixelGraphic gray;
    gray.SetSize(3, 2, bc8);
    gray.SetPaletteIdent(pGray256);
    for (int i = 0; i < 6; ++i)
        gray.SetPixel(i % 3, i / 3, std::uint32_t(i * 50));
    EXPECT_EQ(Written(gray, TPGMFileFormatWriter()), "P2\n3 2\n255\n0 50 100\n150 200 250\n");

    TPixelGraphic bits;
    bits.SetSize(3, 1, bc1);
    bits.SetPaletteIdent(pBlackWhite);
    bits.SetPixel(1, 0, 1);
    EXPECT_EQ(Written(bits, TPBMFileFormatWriter()), "P1\n3 1\n1 0 1\n");

    TPixelGraphic colour;
    colour.SetSize(2, 1, bc24);
    colour.SetPixel(0, 0, RGBValue(1, 2, 3));
    colour.SetPixel(1, 0, RGBValue(255, 0, 9));
    EXPECT_EQ(Written(colour, TPPMFileFormatWriter()), "P3\n2 1\n255\n1 2 3 255 0 9\n");

    // Long rows are wrapped: 1200 one-digit values, 35 to a line of 69 characters.
    TPixelGraphic wide;
    wide.SetSize(400, 1, bc24);
    const std::string text = Written(wide, TPPMFileFormatWriter());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 35);
}

// Plain lines stay within 70 characters, broken between values only where the
// next value would not fit; every row still begins on a line of its own, and
// the values are those of the unwrapped layout.
TEST(PxmWriter, TextLinesWrapAtSeventy)
{
    struct Row {
        TBitCount bitCount;
        int width;
        int samplesPerPixel;
        TFileFormatWriter* writer;
    };
    TPBMFileFormatWriter pbm;
    TPGMFileFormatWriter pgm;
    TPPMFileFormatWriter ppm;
    const Row rows[] = {{bc1, 150, 1, &pbm}, {bc8, 97, 1, &pgm}, {bc24, 61, 3, &ppm}, {bc24, 5, 3, &ppm}};
    for (const Row& row : rows) {
        TPixelGraphic image;
        test::FillRandom(image, row.width, 3, row.bitCount, 9);
        if (row.bitCount == bc1)
            image.SetPaletteIdent(pBlackWhite);
        if (row.bitCount == bc8)
            image.SetPaletteIdent(pGray256);
        TMemoryStream stream;
        row.writer->Write(stream, image);
        const std::string text(stream.Data().begin(), stream.Data().end());

        std::vector<std::string> lines;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(text.substr(at, end - at));
        const int header = row.bitCount == bc1 ? 2 : 3;
        std::vector<std::string> tokens;
        std::size_t tokensInRow = 0;
        for (std::size_t i = std::size_t(header); i < lines.size(); ++i) {
            const std::string& line = lines[i];
            ASSERT_LE(line.size(), 70u) << line;
            ASSERT_FALSE(line.empty());
            EXPECT_NE(line.front(), ' ');
            EXPECT_NE(line.back(), ' ');
            std::istringstream words(line);
            for (std::string word; words >> word;)
                tokens.push_back(word);
            tokensInRow = tokens.size() % std::size_t(row.width * row.samplesPerPixel);
            // A line ends early only where its row ends or the next value would not fit.
            if (tokensInRow != 0 && i + 1 < lines.size()) {
                EXPECT_GT(line.size() + 1 + lines[i + 1].substr(0, lines[i + 1].find(' ')).size(), 70u);
            }
        }
        EXPECT_EQ(tokensInRow, 0u);
        ASSERT_EQ(tokens.size(), std::size_t(row.width * row.samplesPerPixel * 3));
        std::size_t k = 0;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < row.width; ++x) {
                const TRGB c = image.GetColor(x, y);
                if (row.bitCount == bc1) {
                    EXPECT_EQ(tokens[k++], c == 0 ? "1" : "0");
                } else {
                    EXPECT_EQ(tokens[k++], std::to_string(RedOf(c)));
                    if (row.samplesPerPixel == 3) {
                        EXPECT_EQ(tokens[k++], std::to_string(GreenOf(c)));
                        EXPECT_EQ(tokens[k++], std::to_string(BlueOf(c)));
                    }
                }
            }
        stream.SetPosition(0);
        TPixelGraphic back;
        back.LoadFromStream(stream);
        std::string why;
        EXPECT_TRUE(test::SamePixels(image, back, &why)) << why;
    }
}

TEST(PxmWriter, RawRoundTripsEveryVariant)
{
    for (const bool binary : {false, true}) {
        PxMWriteBinary = binary;
        TPixelGraphic sources[3];
        test::FillRandom(sources[0], 21, 5, bc1, 1);
        sources[0].SetPaletteIdent(pBlackWhite);
        test::FillRandom(sources[1], 1100, 3, bc8, 2);  // rows longer than the 1024-byte buffer
        sources[1].SetPaletteIdent(pGray256);
        test::FillRandom(sources[2], 17, 4, bc24, 3);
        TPXMFileFormatWriter* writers[3] = {new TPBMFileFormatWriter, new TPGMFileFormatWriter,
                                            new TPPMFileFormatWriter};
        for (int i = 0; i < 3; ++i) {
            TMemoryStream stream;
            writers[i]->Write(stream, sources[i]);
            EXPECT_EQ(stream.Data()[1], std::uint8_t('1' + i + (binary ? 3 : 0)));
            stream.SetPosition(0);
            TPixelGraphic back;
            back.LoadFromStream(stream);
            std::string why;
            EXPECT_TRUE(test::SamePixels(sources[i], back, &why)) << "variant " << i << ": " << why;
            delete writers[i];
        }
    }
    PxMWriteBinary = false;
}

TEST(PxmWriter, Refusals)
{
    TPixelGraphic colour;
    colour.SetSize(2, 2, bc24);
    const auto error = [&](TFileFormatWriter&& writer, TPixelGraphic& image) {
        TMemoryStream stream;
        try {
            writer.Write(stream, image);
        } catch (const EPGPxMFileFormatWriter& e) {
            EXPECT_EQ(stream.Size(), 0) << "nothing reaches the stream on a refusal";
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(error(TPBMFileFormatWriter(), colour), "PBM: Invalid color resolution");
    EXPECT_EQ(error(TPGMFileFormatWriter(), colour), "PGM: Invalid color resolution");
    TPixelGraphic gray;
    gray.SetSize(2, 2, bc8);
    gray.SetPaletteIdent(pGray256);
    EXPECT_EQ(error(TPPMFileFormatWriter(), gray), "PPM: Invalid color resolution");
    // The kind comes with the writer, not from the extension it is registered under.
    TPGMFileFormatWriter renamed;
    renamed.Extension = "PNM";
    EXPECT_EQ(error(std::move(renamed), gray), "(no error)");
    TPixelGraphic empty;
    EXPECT_EQ(error(TPPMFileFormatWriter(), empty), "PBM, PGM, PPM: Width = 0 or Height = 0");
}
