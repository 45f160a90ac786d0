// The JPEG reader against the third-party suites: every file's expectation from the
// manifest, and the pixels of every file that loads against the codec's own RGB
// decode, which shows any channel or row order mistake of the glue.
#include "formats/Jpeg.h"

#include "formats/Register.h"
#include "image/FileFormats.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <csetjmp>
#include <string>
#include <vector>

namespace rastova {
namespace {

struct TDirectError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void DirectErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<TDirectError*>(cinfo->err)->jump, 1);
}

void Silent(j_common_ptr) {}

struct TDirectImage {
    int width = 0, height = 0, components = 0;
    std::vector<std::uint8_t> samples;  // top row first, RGB or gray
};

// The codec's plain decode: memory source, RGB output, accurate transform.
bool DecodeDirect(const std::vector<std::uint8_t>& bytes, TDirectImage& out)
{
    jpeg_decompress_struct info{};
    TDirectError error{};
    info.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = DirectErrorExit;
    error.pub.output_message = Silent;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    out.width = int(info.output_width);
    out.height = int(info.output_height);
    out.components = info.output_components;
    out.samples.resize(std::size_t(out.width) * std::size_t(out.height) * std::size_t(out.components));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &out.samples[std::size_t(info.output_scanline) * std::size_t(out.width * out.components)];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// Rows whose manifest expectation predates CMYK and YCCK files.
const char* const kNowLoading[] = {"pillow/pil_sample_cmyk.jpg"};

TEST(JpegSuiteTest, ManifestExpectationsHold)
{
    const auto rows = test::ManifestRows({"jpeg"});
    if (rows.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("third-party suites not present");
    for (auto row : rows) {
        if (std::find(std::begin(kNowLoading), std::end(kNowLoading), row.path) != std::end(kNowLoading))
            row.expectation = "loads";
        TPixelGraphic image;
        const std::string outcome = test::LoadLikeConverter(test::TestSuitesDir() / row.path, image);
        EXPECT_EQ(outcome.rfind("FOREIGN", 0), std::string::npos) << row.path << ": " << outcome;
        if (row.expectation == "loads") {
            EXPECT_EQ(outcome, "") << row.path;
        } else if (row.expectation == "refused") {
            EXPECT_EQ(outcome.rfind("JPG: ", 0), 0u) << row.path << ": " << outcome << " (" << row.note << ")";
        }
        TFileInfo info;
        EXPECT_TRUE(GetFileInfo((test::TestSuitesDir() / row.path).string(), 0, info) ||
                    row.expectation != "loads" || !row.note.empty())
            << row.path;
    }
}

TEST(JpegSuiteTest, PixelsMatchTheCodecsOwnDecode)
{
    const auto rows = test::ManifestRows({"jpeg"});
    if (rows.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("third-party suites not present");
    int files = 0;
    for (const auto& row : rows) {
        if (row.expectation != "loads")
            continue;
        const auto file = test::TestSuitesDir() / row.path;
        TPixelGraphic image;
        ASSERT_EQ(test::LoadLikeConverter(file, image), "") << row.path;
        TDirectImage direct;
        ASSERT_TRUE(DecodeDirect(test::ReadAll(file), direct)) << row.path;
        ASSERT_EQ(image.Width(), direct.width) << row.path;
        ASSERT_EQ(image.Height(), direct.height) << row.path;
        ASSERT_EQ(image.BitCount(), direct.components == 1 ? bc8 : bc24) << row.path;
        int mismatches = 0;
        for (int y = 0; y < direct.height; ++y)
            for (int x = 0; x < direct.width; ++x) {
                const std::uint8_t* s =
                    &direct.samples[(std::size_t(y) * std::size_t(direct.width) + std::size_t(x)) *
                                    std::size_t(direct.components)];
                const TRGB expected = direct.components == 1 ? RGBValue(s[0], s[0], s[0]) : RGBValue(s[0], s[1], s[2]);
                mismatches += image.GetColor(x, y) != expected;
            }
        EXPECT_EQ(mismatches, 0) << row.path;
        ++files;
    }
    EXPECT_GT(files, 30);
}

}  // namespace
}  // namespace rastova
