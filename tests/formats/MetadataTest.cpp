// Metadata through the readers and writers: EXIF kept byte for byte, the ICC
// profile split over APP2 segments, damaged blocks dropped without harm, EXIF
// trees across byte orders, and the sRGB conversion of an Adobe RGB picture
// against the values its primaries and tone curve give.
#include "formats/Jpeg.h"
#include "formats/Png.h"
#include "formats/Tiff.h"
#include "image/ColorProfile.h"
#include "image/Streams.h"
#include "support/ExifBuilder.h"
#include "support/IccProfiles.h"
#include "support/TestSupport.h"
#include "formats/TiffFileBuilder.h"

#include <gtest/gtest.h>

#include <lcms2.h>

#include <array>
#include <cmath>

namespace rastova {
namespace {

using test::AdobeRgbProfile;
using test::kAdobeGamma;
using test::kAdobePrimaries;
using test::kD65;
using test::SavedProfile;

constexpr std::array<std::array<double, 2>, 3> kSrgbPrimaries = {{{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}};

using TMatrix = std::array<std::array<double, 3>, 3>;

// ---- builders --------------------------------------------------------------------------

std::vector<std::uint8_t> SmallJpeg()
{
    TPixelGraphic image;
    test::FillRandom(image, 17, 9, bc24, 3);
    return test::WriteWith<TJPGFileFormatWriter>(image);
}

std::vector<std::uint8_t> WithSegment(const std::vector<std::uint8_t>& jpeg, int marker, const TBytes& payload)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    const std::size_t length = payload.size() + 2;
    out.insert(out.end(), {0xFF, std::uint8_t(marker), std::uint8_t(length >> 8), std::uint8_t(length)});
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// The payloads of every segment with the marker, in file order, up to the first scan.
std::vector<TBytes> SegmentsOf(const std::vector<std::uint8_t>& jpeg, int marker)
{
    std::vector<TBytes> found;
    for (std::size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA;) {
        const std::size_t length = std::size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        if (jpeg[pos + 1] == marker)
            found.emplace_back(jpeg.begin() + std::ptrdiff_t(pos + 4), jpeg.begin() + std::ptrdiff_t(pos + 2 + length));
        pos += 2 + length;
    }
    return found;
}

TBytes IccSegment(int sequence, int count, const TBytes& data)
{
    TBytes payload = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    payload.push_back(std::uint8_t(sequence));
    payload.push_back(std::uint8_t(count));
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}


// ---- colour arithmetic, from the primaries alone -----------------------------------------

TMatrix Inverse(const TMatrix& m)
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    TMatrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const auto& a = m[std::size_t((j + 1) % 3)];
            const auto& b = m[std::size_t((j + 2) % 3)];
            const std::size_t c1 = std::size_t((i + 1) % 3), c2 = std::size_t((i + 2) % 3);
            r[std::size_t(i)][std::size_t(j)] = (a[c1] * b[c2] - a[c2] * b[c1]) / det;
        }
    return r;
}

std::array<double, 3> Times(const TMatrix& m, const std::array<double, 3>& v)
{
    std::array<double, 3> r{};
    for (std::size_t i = 0; i < 3; ++i)
        r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    return r;
}

// Linear RGB to XYZ for primaries and white point xy.
TMatrix RgbToXyz(const std::array<std::array<double, 2>, 3>& primaries)
{
    TMatrix m{};
    for (std::size_t c = 0; c < 3; ++c) {
        const double x = primaries[c][0], y = primaries[c][1];
        m[0][c] = x / y;
        m[1][c] = 1;
        m[2][c] = (1 - x - y) / y;
    }
    const std::array<double, 3> white = {kD65[0] / kD65[1], 1, (1 - kD65[0] - kD65[1]) / kD65[1]};
    const std::array<double, 3> scale = Times(Inverse(m), white);
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 3; ++c)
            m[r][c] *= scale[c];
    return m;
}

int SrgbEncode(double v)
{
    v = std::clamp(v, 0.0, 1.0);
    const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return int(std::lround(255 * e));
}

// ---- tests ------------------------------------------------------------------------------

TEST(MetadataTest, AdobeRgbPixelsBecomeTheSrgbTheirPrimariesGive)
{
    const TMatrix adobeToSrgb = [] {
        const TMatrix toXyz = RgbToXyz(kAdobePrimaries);
        const TMatrix fromXyz = Inverse(RgbToXyz(kSrgbPrimaries));
        TMatrix m{};
        for (std::size_t r = 0; r < 3; ++r)
            for (std::size_t c = 0; c < 3; ++c)
                m[r][c] = fromXyz[r][0] * toXyz[0][c] + fromXyz[r][1] * toXyz[1][c] + fromXyz[r][2] * toXyz[2][c];
        return m;
    }();
    const int levels[] = {0, 40, 100, 160, 220, 255};
    TPixelGraphic image;
    image.SetSize(216, 1, bc24);
    int x = 0;
    for (const int r : levels)
        for (const int g : levels)
            for (const int b : levels)
                image.SetColor(x++, 0, RGBValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)));
    TPixelGraphic source;
    source.Assign(&image);
    ASSERT_TRUE(ConvertToSRGB(image, AdobeRgbProfile()));

    int worst = 0;
    for (x = 0; x < image.Width(); ++x) {
        const TRGB in = source.GetColor(x, 0);
        const std::array<double, 3> linear = {std::pow(RedOf(in) / 255.0, kAdobeGamma),
                                              std::pow(GreenOf(in) / 255.0, kAdobeGamma),
                                              std::pow(BlueOf(in) / 255.0, kAdobeGamma)};
        const std::array<double, 3> srgb = Times(adobeToSrgb, linear);
        const TRGB out = image.GetColor(x, 0);
        const int got[3] = {RedOf(out), GreenOf(out), BlueOf(out)};
        for (std::size_t c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(got[c] - SrgbEncode(srgb[c])));
    }
    // lcms quantises the matrix to 16-bit fixed point and works through D50.
    EXPECT_LE(worst, 2);
    // Most colours change: the conversion really ran.
    int changed = 0;
    for (x = 0; x < image.Width(); ++x)
        changed += image.GetColor(x, 0) != source.GetColor(x, 0) ? 1 : 0;
    EXPECT_GT(changed, 150);
}

TEST(MetadataTest, JpegKeepsExifByteForByteApartFromThePixelSize)
{
    // IFD0: Make, Orientation 6, ExifIFD -> PixelXDimension (LONG), PixelYDimension (SHORT), then the thumbnail IFD1.
    test::TByteBuilder b;
    b.Text("MM").U16BE(42).U32BE(8);
    b.U16BE(3).U16BE(0x010F).U16BE(2).U32BE(4).Text("Cam").U8(0);
    b.U16BE(0x0112).U16BE(3).U32BE(1).U16BE(6).U16BE(0);
    b.U16BE(0x8769).U16BE(4).U32BE(1).U32BE(50);
    b.U32BE(80);  // IFD1
    b.U16BE(2).U16BE(0xA002).U16BE(4).U32BE(1).U32BE(4000);
    b.U16BE(0xA003).U16BE(3).U32BE(1).U16BE(3000).U16BE(0).U32BE(0);
    b.U16BE(1).U16BE(0x0103).U16BE(3).U32BE(1).U16BE(6).U16BE(0).U32BE(0);
    const TBytes exif = b.Data();
    TBytes payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), exif.begin(), exif.end());

    TPixelGraphic image;
    test::ReadWith<TJPGFileFormatReader>(WithSegment(SmallJpeg(), 0xE1, payload), image);
    ASSERT_EQ(image.Metadata().Exif, exif);
    EXPECT_EQ(ExifOrientation(image.Metadata().Exif), 6);
    const std::vector<TBytes> written = SegmentsOf(test::WriteWith<TJPGFileFormatWriter>(image), 0xE1);
    ASSERT_EQ(written.size(), 1u);
    TBytes expected = payload;
    const std::size_t dims = 6 + 50 + 2 + 8;  // value field of PixelXDimension
    expected[dims + 2] = 0;
    expected[dims + 3] = 17;  // the image is 17 x 9
    expected[dims + 12] = 0;
    expected[dims + 13] = 9;
    EXPECT_EQ(written[0], expected);
}

TEST(MetadataTest, LargeProfilesSplitOverApp2SegmentsAndJoinAgain)
{
    const TBytes profile = AdobeRgbProfile(150000);
    ASSERT_EQ(ProfileSpace(profile), psRGB);
    TPixelGraphic image;
    test::FillRandom(image, 8, 8, bc24, 1);
    image.Metadata().IccProfile = profile;
    const auto jpeg = test::WriteWith<TJPGFileFormatWriter>(image);
    EXPECT_EQ(SegmentsOf(jpeg, 0xE2).size(), 3u);
    TPixelGraphic back;
    test::ReadWith<TJPGFileFormatReader>(jpeg, back);
    EXPECT_EQ(back.Metadata().IccProfile, profile);
}

TEST(MetadataTest, ExifTreeCrossesByteOrdersThroughTiff)
{
    const TBytes motorola = test::ExifPayload(8, true);
    TPixelGraphic image;
    test::FillRandom(image, 5, 4, bc24, 2);
    image.Metadata().Exif.assign(motorola.begin() + 6, motorola.end());
    for (const bool motorolaTiff : {false, true}) {
        TPGSettings settings = DefaultSettings();
        settings.TIFFWriteMotorola = motorolaTiff;
        const TSettingsScope scope(settings);
        TPixelGraphic back;
        test::ReadWith<TTIFFileFormatReader>(test::WriteWith<TTIFFileFormatWriter>(image), back);
        TExifTree expected, got;
        ASSERT_TRUE(ReadExifTree(image.Metadata().Exif, expected));
        ASSERT_TRUE(ReadExifTree(back.Metadata().Exif, got));
        ASSERT_EQ(got.Ifd0.size(), expected.Ifd0.size());
        for (std::size_t i = 0; i < got.Ifd0.size(); ++i) {
            EXPECT_EQ(got.Ifd0[i].Tag, expected.Ifd0[i].Tag);
            EXPECT_EQ(got.Ifd0[i].Data, expected.Ifd0[i].Data);
        }
        EXPECT_EQ(ExifOrientation(back.Metadata().Exif), 8);
    }
}

struct TDamage {
    const char* name;
    int marker;
    TBytes payload;
    bool warned;  // dropped with a reader warning
};

std::vector<TDamage> DamagedBlocks()
{
    const TBytes exifHead = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
    TBytes pastEnd = exifHead;
    pastEnd.insert(pastEnd.end(), {0x00, 0x10, 0, 0});
    TBytes truncated = test::ExifPayload(6, false);
    truncated.resize(24);
    TBytes hugeCount = test::ExifPayload(6, true);
    hugeCount[6 + 8 + 2 + 4] = 0xFF;  // Make's count
    const TBytes profile = AdobeRgbProfile();
    const TBytes half(profile.begin(), profile.begin() + std::ptrdiff_t(profile.size() / 2));
    return {
        {"EXIF whose IFD lies past its end", 0xE1, pastEnd, true},
        {"EXIF cut inside its IFD", 0xE1, truncated, false},
        {"EXIF with a count past the end", 0xE1, hugeCount, false},
        {"EXIF without a TIFF header", 0xE1, {'E', 'x', 'i', 'f', 0, 0, 'X'}, true},
        {"ICC chunk 2 of 3 alone", 0xE2, IccSegment(2, 3, profile), true},
        {"ICC chunk numbered 0", 0xE2, IccSegment(0, 1, profile), true},
        {"ICC profile of noise", 0xE2, IccSegment(1, 1, TBytes(300, 0xA7)), true},
        {"ICC profile cut in half", 0xE2, IccSegment(1, 1, half), true},
    };
}

TEST(MetadataTest, DamagedBlocksAreDroppedAndNeverBlockAConversion)
{
    for (const TDamage& damage : DamagedBlocks()) {
        SCOPED_TRACE(damage.name);
        test::TQuestionRecorder questions(qaOK);
        TPixelGraphic image;
        image.SetReadWarningAction(pgwaOKBox);
        test::ReadWith<TJPGFileFormatReader>(WithSegment(SmallJpeg(), damage.marker, damage.payload), image);
        EXPECT_EQ(image.Width(), 17);
        EXPECT_EQ(!questions.texts.empty(), damage.warned);
        if (damage.marker == 0xE2) {
            EXPECT_TRUE(image.Metadata().IccProfile.empty());
        }
        for (const char* ext : {"jpg", "png", "tif", "bmp"}) {
            TMemoryStream stream;
            image.SaveToStreamExt(stream, ext);
            stream.SetPosition(0);
            TPixelGraphic back;
            back.LoadFromStreamExt(stream, ext, 0);
            EXPECT_EQ(back.Height(), 9) << ext;
        }
    }
}

TEST(MetadataTest, PngDropsChunksWithBadChecksumsWithAWarning)
{
    TPixelGraphic image;
    test::FillRandom(image, 6, 5, bc24, 4);
    image.Metadata().IccProfile = AdobeRgbProfile();
    image.Metadata().Exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> png = test::WriteWith<TPNGFileFormatWriter>(image);
    TPixelGraphic back;
    test::ReadWith<TPNGFileFormatReader>(png, back);
    ASSERT_EQ(back.Metadata().IccProfile, image.Metadata().IccProfile);
    ASSERT_EQ(back.Metadata().Exif, image.Metadata().Exif);
    for (const char* type : {"iCCP", "eXIf"}) {
        std::vector<std::uint8_t> damaged = png;
        const auto at = std::search(damaged.begin(), damaged.end(), type, type + 4);
        ASSERT_NE(at, damaged.end());
        at[6] ^= 0x55;  // inside the chunk's data
        test::TQuestionRecorder questions(qaOK);
        TPixelGraphic reread;
        reread.SetReadWarningAction(pgwaOKBox);
        test::ReadWith<TPNGFileFormatReader>(damaged, reread);
        // Ours among libpng's about the checksum.
        EXPECT_TRUE(std::any_of(questions.texts.begin(), questions.texts.end(),
                                [](const std::string& text) { return text.find("was dropped") != std::string::npos; }))
            << type;
        EXPECT_TRUE(std::string(type) == "iCCP" ? reread.Metadata().IccProfile.empty() : reread.Metadata().Exif.empty());
    }
}

// A CMYK output profile whose inks multiply: (1 - C)(1 - K) of sRGB red and so
// on, sampled into a table as printers' profiles are.
TBytes MultiplyingCmykProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);  // a lut16 table, as most printer profiles still carry
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 17, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        table,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> cmsInt32Number {
            const double k = 1 - in[3] / 65535.0;
            const double rgb[3] = {(1 - in[0] / 65535.0) * k, (1 - in[1] / 65535.0) * k, (1 - in[2] / 65535.0) * k};
            cmsCIELab lab;
            cmsDoTransform(cargo, rgb, &lab, 1);
            cmsFloat2LabEncodedV2(out, &lab);
            return 1;
        },
        toLab, 0);
    cmsPipelineInsertStage(pipeline, cmsAT_BEGIN, table);
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return SavedProfile(profile);
}

TEST(MetadataTest, CmykTiffWithAProfileConvertsThroughIt)
{
    const TBytes profile = MultiplyingCmykProfile();
    ASSERT_EQ(ProfileSpace(profile), psCMYK);
    const std::vector<std::uint8_t> inks = {128, 0, 0, 128, 0, 0, 0, 0, 0, 255, 0, 0, 40, 90, 200, 10};
    test::TTiffFileBuilder b;
    const std::uint32_t pixels = b.Blob(inks);
    const std::uint32_t icc = b.Blob(profile);
    b.Long(256, 4).Long(257, 1).Entry(258, 3, {8, 8, 8, 8}).Short(259, 1).Short(262, 5).Long(273, pixels);
    b.Short(277, 4).Long(278, 1).Long(279, 16).Raw(34675, 7, std::uint32_t(profile.size()), icc);
    TPixelGraphic image;
    test::ReadWith<TTIFFileFormatReader>(b.Build(), image);
    EXPECT_TRUE(image.Metadata().IccProfile.empty());  // spent on the conversion
    for (int x = 0; x < 4; ++x) {
        const std::uint8_t* s = inks.data() + 4 * x;
        const double k = 1 - s[3] / 255.0;
        const TRGB got = image.GetColor(x, 0);
        const int values[3] = {RedOf(got), GreenOf(got), BlueOf(got)};
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(values[c], 255 * (1 - s[c] / 255.0) * k, 4) << x << " " << c;
    }
}

}  // namespace
}  // namespace rastova
