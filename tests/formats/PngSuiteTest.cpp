// The PNG reader against the third-party suites: every file's expectation from the
// manifest, and PngSuite's pixels against an independent decode by libpng's
// simplified interface, which composites in linear light on its own.
#include "formats/Png.h"

#include "formats/Register.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <png.h>

namespace rastova {
namespace {

std::uint32_t BigEndian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// What the comparison needs from a file's chunks, read by hand.
struct TChunkFacts {
    int bitDepth = 0;
    int colorType = 0;
    std::optional<double> gamma;
    std::vector<std::uint8_t> background;  // bKGD data
    std::vector<std::uint8_t> palette;     // PLTE data
};

TChunkFacts ChunkFactsOf(const std::vector<std::uint8_t>& bytes)
{
    TChunkFacts facts;
    std::size_t pos = 8;
    while (pos + 12 <= bytes.size()) {
        const std::uint32_t length = BigEndian32(&bytes[pos]);
        const std::string type(bytes.begin() + long(pos) + 4, bytes.begin() + long(pos) + 8);
        if (pos + 12 + length > bytes.size() || type == "IDAT")
            break;
        const std::uint8_t* data = &bytes[pos + 8];
        if (type == "IHDR") {
            facts.bitDepth = data[8];
            facts.colorType = data[9];
        } else if (type == "gAMA") {
            facts.gamma = BigEndian32(data) / 100000.0;
        } else if (type == "bKGD") {
            facts.background.assign(data, data + length);
        } else if (type == "PLTE") {
            facts.palette.assign(data, data + length);
        }
        pos += 12 + length;
    }
    return facts;
}

// The encoding the independent decoder assumes: the file's gamma, else sRGB.
struct TEncoding {
    std::optional<double> gamma;

    double ToLinear(double encoded) const
    {
        if (gamma)
            return std::pow(encoded, 1.0 / *gamma);
        return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
    }
    double FromLinear(double linear) const
    {
        if (gamma)
            return std::pow(linear, *gamma);
        return linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    }
};

// The background our reader composites against, as linear light per channel:
// the file's bKGD (PNGUseFileBackground is on), else the image's black.
std::array<double, 3> LinearBackground(const TChunkFacts& facts, const TEncoding& encoding)
{
    std::array<double, 3> linear{0, 0, 0};
    const auto& b = facts.background;
    if (b.empty())
        return linear;
    const double maxValue = double((1 << facts.bitDepth) - 1);
    if (facts.colorType == 3 && !b.empty() && std::size_t(b[0]) * 3 + 2 < facts.palette.size()) {
        for (int c = 0; c < 3; ++c)
            linear[std::size_t(c)] = encoding.ToLinear(facts.palette[std::size_t(b[0]) * 3 + std::size_t(c)] / 255.0);
    } else if ((facts.colorType & 2) != 0 && b.size() >= 6) {
        for (int c = 0; c < 3; ++c)
            linear[std::size_t(c)] = encoding.ToLinear((b[std::size_t(2 * c)] << 8 | b[std::size_t(2 * c + 1)]) / maxValue);
    } else if (b.size() >= 2) {
        linear.fill(encoding.ToLinear((b[0] << 8 | b[1]) / maxValue));
    }
    return linear;
}

struct TComparison {
    int worst = 0;
    int compared = 0;
    std::string where;
};

// Compares our image with libpng's simplified decode, channel by channel. Files
// with gAMA are decoded to 16-bit linear light, composited there and encoded with
// the file's gamma, as libpng composites them for us. Files without one are taken
// as the simplified decoder takes them, as sRGB, whose 8-bit output is the stored
// samples; our reader composites those samples directly.
TComparison CompareWithSimplifiedDecode(const std::filesystem::path& file, const TPixelGraphic& image)
{
    TComparison result;
    const TChunkFacts facts = ChunkFactsOf(test::ReadAll(file));
    const TEncoding encoding{facts.gamma};
    const bool palette = facts.colorType == 3;
    const bool linear = facts.gamma.has_value();

    png_image decoded{};
    decoded.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&decoded, file.c_str()) == 0) {
        result.where = "simplified decode refused: " + std::string(decoded.message);
        result.worst = 1000;
        return result;
    }
    decoded.format = linear ? PNG_FORMAT_LINEAR_RGB_ALPHA : PNG_FORMAT_RGBA;
    const double full = linear ? 65535.0 : 255.0;
    std::vector<png_uint_16> wide(linear ? PNG_IMAGE_SIZE(decoded) / 2 : 0);
    std::vector<png_byte> narrow(linear ? 0 : PNG_IMAGE_SIZE(decoded));
    png_image_finish_read(&decoded, nullptr, linear ? static_cast<void*>(wide.data()) : narrow.data(), 0, nullptr);
    const int width = int(decoded.width);
    const TEncoding identity{1.0};
    const auto background = LinearBackground(facts, linear ? encoding : identity);

    for (int y = 0; y < int(decoded.height); ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t at = std::size_t(4 * (y * width + x));
            double sample[4];
            for (int c = 0; c < 4; ++c)
                sample[c] = (linear ? wide[at + std::size_t(c)] : narrow[at + std::size_t(c)]) / full;
            const double alpha = sample[3];
            // A kept alpha is compared as it is, and the colour straight where it shows.
            const bool kept = image.HasAlpha();
            if ((palette || kept) && alpha == 0)
                continue;
            if (kept) {
                const int diff = std::abs(int(std::lround(255 * alpha)) - AlphaOf(image.GetPixel(x, y)));
                result.worst = std::max(result.worst, diff);
            }
            const TRGB ours = image.GetColor(x, y);
            const int oursChannels[3] = {RedOf(ours), GreenOf(ours), BlueOf(ours)};
            for (int c = 0; c < 3; ++c) {
                // Linear output is premultiplied, 8-bit output straight.
                const double straight = linear ? (alpha > 0 ? sample[c] / alpha : 0) : sample[c];
                // Palette images keep the PLTE colours: compare the straight colour.
                const double value =
                    palette || kept ? straight : straight * alpha + background[std::size_t(c)] * (1 - alpha);
                const double encoded = linear ? encoding.FromLinear(std::min(value, 1.0)) : value;
                const int expected = int(std::lround(255 * encoded));
                // A kept colour under little alpha is recovered from premultiplied linear
                // light only roughly: its error counts as much as it shows.
                const int diff = int(std::lround(std::abs(expected - oursChannels[c]) * (kept ? alpha : 1.0)));
                if (diff > result.worst) {
                    result.worst = diff;
                    result.where = "at " + std::to_string(x) + "," + std::to_string(y) + " channel " +
                                   std::to_string(c) + ": ours " + std::to_string(oursChannels[c]) +
                                   ", expected " + std::to_string(expected);
                }
                ++result.compared;
            }
        }
    }
    return result;
}

TEST(PngSuiteTest, ManifestExpectationsHold)
{
    const auto rows = test::ManifestRows({"png"});
    if (rows.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("third-party suites not present");
    for (const auto& row : rows) {
        TPixelGraphic image;
        const std::string outcome = test::LoadLikeConverter(test::TestSuitesDir() / row.path, image);
        EXPECT_EQ(outcome.rfind("FOREIGN", 0), std::string::npos) << row.path << ": " << outcome;
        if (row.expectation == "loads") {
            EXPECT_EQ(outcome, "") << row.path;
        } else if (row.expectation == "refused") {
            EXPECT_NE(outcome, "") << row.path << " (" << row.note << ")";
        }
        TFileInfo info;
        GetFileInfo((test::TestSuitesDir() / row.path).string(), 0, info);
    }
}

TEST(PngSuiteTest, PixelsMatchAnIndependentDecode)
{
    const auto rows = test::ManifestRows({"png"});
    if (rows.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("third-party suites not present");
    const bool savedCorrection = GammaCorrection;
    GammaCorrection = false;
    int files = 0;
    for (const auto& row : rows) {
        if (row.path.rfind("pngsuite/", 0) != 0 || row.expectation != "loads")
            continue;
        const auto file = test::TestSuitesDir() / row.path;
        TPixelGraphic image;
        ASSERT_EQ(test::LoadLikeConverter(file, image), "") << row.path;
        const TComparison comparison = CompareWithSimplifiedDecode(file, image);
        EXPECT_LE(comparison.worst, 2) << row.path << " " << comparison.where;
        EXPECT_GT(comparison.compared, 0) << row.path;
        ++files;
    }
    GammaCorrection = savedCorrection;
    EXPECT_GT(files, 140);
}

}  // namespace
}  // namespace rastova
