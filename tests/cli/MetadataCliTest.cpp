// What a conversion keeps of a photo's metadata, seen by an independent reader:
// sources tagged by exiftool, converted by rastova-convert, read back by exiftool.
#include "support/IccProfiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include "image/ColorProfile.h"
#include "image/PGraphic.h"

#include <cstdlib>
#include <map>
#include <sstream>

using namespace rastova;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

bool HaveExiftool()
{
    return std::system("exiftool -ver >/dev/null 2>&1") == 0;
}


struct TExifResult {
    int status = -1;
    std::map<std::string, std::string> tags;  // absent tags are missing
    std::string Tag(const std::string& name) const
    {
        const auto found = tags.find(name);
        return found == tags.end() ? "(absent)" : found->second;
    }
};

class MetadataCliTest : public ::testing::Test {
protected:
    test::TTempDir dir;

    void SetUp() override
    {
        if (!HaveExiftool())
            GTEST_SKIP() << "exiftool is not installed";
        test::WriteAll(dir.File("adobe.icc"), test::AdobeRgbProfile());
    }

    int Run(const std::string& command)
    {
        const int raw = std::system((command + " >'" + dir.File("log.txt") + "' 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    // A photo-like source of the extension, tagged by exiftool as a camera would.
    std::string TaggedSource(const std::string& ext)
    {
        TPixelGraphic image;
        test::FillRandom(image, kWidth, kHeight, bc24, 7);
        const std::string file = dir.File("photo." + ext);
        image.SaveToFile(file);
        std::string resolution = "-XResolution=72 -YResolution=72 -ResolutionUnit=inches";
        if (ext == "jpg")
            resolution = "-JFIF:XResolution=72 -JFIF:YResolution=72 -JFIF:ResolutionUnit=inches";
        else if (ext == "png")
            resolution = "-PixelsPerUnitX=2835 -PixelsPerUnitY=2835 -PixelUnits=meters";
        const std::string command =
            "exiftool -q -overwrite_original -Make=Rastova -Model=TestCam '-DateTimeOriginal=2024:05:06 07:08:09' "
            "-GPSLatitude=48.5 -GPSLatitudeRef=N -XMP-dc:Title=Harbour -Orientation#=6 -ExifImageWidth=999 "
            "-ExifImageHeight=999 " + resolution + " '-ICC_Profile<=" + dir.File("adobe.icc") + "' '" + file + "'";
        EXPECT_EQ(Run(command), 0) << command;
        return file;
    }

    TExifResult Convert(const std::string& source, const std::string& target, const std::string& options)
    {
        TExifResult result;
        const std::string out = dir.File("out");
        std::filesystem::remove_all(out);
        result.status = Run(std::string("'") + RASTOVA_CONVERT_EXE + "' -y --quiet -f " + target + " " + options +
                            " -o '" + out + "' '" + source + "'");
        const std::string written = out + "/photo." + target;
        const std::string tags = dir.File("tags.txt");
        std::system(("exiftool -G1 -s -n -Make -Model -DateTimeOriginal -GPSLatitude -XMP-dc:Title -ProfileDescription "
                     "-Orientation -ExifImageWidth -ImageWidth -ImageHeight -JFIF:XResolution -IFD0:XResolution "
                     "-PixelsPerUnitX -PixelsPerMeterX '" + written + "' >'" + tags + "' 2>/dev/null")
                        .c_str());
        const auto bytes = test::ReadAll(tags);
        std::istringstream lines(std::string(bytes.begin(), bytes.end()));
        for (std::string line; std::getline(lines, line);) {
            const auto colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            // "[Group]   Name   : value"; the name alone means the first of its groups.
            std::istringstream fields(line.substr(0, colon));
            std::string group, name;
            fields >> group >> name;
            const std::string value = line.substr(colon + 2);
            result.tags.emplace(name, value);
            result.tags[group.substr(1, group.size() - 2) + ":" + name] = value;
        }
        return result;
    }
};

struct TCase {
    const char* target;
    bool carries;        // EXIF, XMP and the profile reach the file
    const char* resolutionTag;
    const char* resolution;
};

const TCase kTargets[] = {
    {"jpg", true, "JFIF:XResolution", "72"},
    {"png", true, "PixelsPerUnitX", "2835"},
    {"tif", true, "IFD0:XResolution", "72"},
    {"bmp", false, "PixelsPerMeterX", "2835"},
    {"ppm", false, nullptr, nullptr},
};

TEST_F(MetadataCliTest, SourceKindsTimesTargetsKeepWhatTheTargetHolds)
{
    for (const char* sourceExt : {"jpg", "png", "tif"}) {
        const std::string source = TaggedSource(sourceExt);
        for (const TCase& c : kTargets) {
            SCOPED_TRACE(std::string(sourceExt) + " -> " + c.target);
            const TExifResult r = Convert(source, c.target, "");
            ASSERT_EQ(r.status, 0);
            const auto has = [&](const char* tag) { return r.tags.count(tag) != 0; };
            EXPECT_EQ(has("Make") && r.tags.at("Make") == "Rastova", c.carries);
            EXPECT_EQ(has("Model"), c.carries);
            EXPECT_EQ(has("DateTimeOriginal") && r.tags.at("DateTimeOriginal") == "2024:05:06 07:08:09", c.carries);
            EXPECT_EQ(has("GPSLatitude") && r.tags.at("GPSLatitude") == "48.5", c.carries);
            EXPECT_EQ(has("Title") && r.tags.at("Title") == "Harbour", c.carries);
            EXPECT_EQ(has("ProfileDescription") && r.tags.at("ProfileDescription") == "Adobe RGB (1998)", c.carries);
            // Kept as it was: the picture was not turned.
            EXPECT_EQ(has("Orientation") && r.tags.at("Orientation") == "6", c.carries);
            if (c.carries) {
                EXPECT_EQ(r.Tag("ExifImageWidth"), std::to_string(kWidth));
            }
            if (c.resolutionTag) {
                EXPECT_EQ(r.Tag(c.resolutionTag), c.resolution);
            }
        }
    }
}

TEST_F(MetadataCliTest, StripDropsDescriptionsAndProfileEverywhere)
{
    for (const char* sourceExt : {"jpg", "tif"}) {
        const std::string source = TaggedSource(sourceExt);
        for (const TCase& c : kTargets) {
            SCOPED_TRACE(std::string(sourceExt) + " -> " + c.target);
            const TExifResult r = Convert(source, c.target, "--strip");
            ASSERT_EQ(r.status, 0);
            for (const char* tag : {"Make", "Model", "DateTimeOriginal", "GPSLatitude", "Title", "ProfileDescription",
                                    "Orientation"})
                EXPECT_EQ(r.tags.count(tag), 0u) << tag;
            if (c.resolutionTag) {  // the resolution is no description: it stays
                EXPECT_EQ(r.Tag(c.resolutionTag), c.resolution);
            }
        }
    }
}

TEST_F(MetadataCliTest, AutoOrientTurnsThePictureAndWritesOrientationOne)
{
    for (const char* sourceExt : {"jpg", "png", "tif"}) {
        const std::string source = TaggedSource(sourceExt);
        for (const char* target : {"jpg", "png", "tif"}) {
            SCOPED_TRACE(std::string(sourceExt) + " -> " + target);
            const TExifResult r = Convert(source, target, "--auto-orient");
            ASSERT_EQ(r.status, 0);
            EXPECT_EQ(r.Tag("Orientation"), "1");
            EXPECT_EQ(r.Tag("ImageWidth"), std::to_string(kHeight));  // turned a quarter
            EXPECT_EQ(r.Tag("ExifImageWidth"), std::to_string(kHeight));
            EXPECT_EQ(r.Tag("Make"), "Rastova");
        }
    }
    // The job's own rotation leaves the tag as it was.
    const TExifResult rotated = Convert(dir.File("photo.jpg"), "jpg", "-r right");
    EXPECT_EQ(rotated.Tag("Orientation"), "6");
}

}  // namespace
