// The desktop entry offers the application for exactly the files it reads.
#include "formats/Register.h"
#include "image/FileFormats.h"
#include "job/FileFilterTable.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

namespace rastova {
namespace {

// The shared MIME database's type for each extension a reader or the metafile
// player takes. A new reader fails the test below until it is named here and in
// the desktop entry.
const std::map<std::string, std::string> kMimeTypeOfExtension = {
    {"bmp", "image/bmp"}, {"dib", "image/bmp"}, {"rle", "image/rle"},
    {"gif", "image/gif"}, {"ico", "image/vnd.microsoft.icon"},
    {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"jif", "image/jpeg"},
    {"pcx", "image/vnd.zbrush.pcx"}, {"pbm", "image/x-portable-bitmap"},
    {"pgm", "image/x-portable-graymap"}, {"ppm", "image/x-portable-pixmap"},
    {"pam", "image/x-portable-arbitrarymap"},
    {"png", "image/png"}, {"tga", "image/x-tga"}, {"tif", "image/tiff"}, {"tiff", "image/tiff"},
    {"wmf", "image/wmf"}, {"emf", "image/emf"},
    {"webp", "image/webp"}, {"heic", "image/heic"}, {"heif", "image/heif"}, {"avif", "image/avif"},
    {"jxl", "image/jxl"},
};

std::set<std::string> DesktopEntryMimeTypes()
{
    const std::vector<std::uint8_t> bytes = test::ReadAll(std::string(RASTOVA_SOURCE_DIR) + "/data/org.rastova.Rastova.desktop");
    const std::string text(bytes.begin(), bytes.end());
    const std::string key = "\nMimeType=";
    const std::size_t start = text.find(key);
    if (start == std::string::npos)
        return {};
    std::istringstream list(text.substr(start + key.size(), text.find('\n', start + 1) - start - key.size()));
    std::set<std::string> types;
    for (std::string type; std::getline(list, type, ';');)
        if (!type.empty())
            types.insert(type);
    return types;
}

// Extensions of "*.a;*.b" masks.
std::set<std::string> MaskExtensions(const std::string& mask)
{
    std::set<std::string> extensions;
    std::istringstream patterns(mask);
    for (std::string pattern; std::getline(patterns, pattern, ';');)
        extensions.insert(pattern.substr(pattern.find('.') + 1));
    return extensions;
}

TEST(DesktopEntry, MimeTypesAreThoseOfTheReadersAndTheMetafilePlayer)
{
    PGInitialize();
    const std::set<std::string> readable = MaskExtensions(kFileFilters[0].Mask);  // readers and metafiles
    std::set<std::string> expected;
    for (const auto& reader : FileFormatReaders()) {
        ASSERT_TRUE(kMimeTypeOfExtension.count(reader->Extension)) << reader->Extension << " has no MIME type";
        expected.insert(kMimeTypeOfExtension.at(reader->Extension));
    }
    for (const std::string& extension : readable) {
        ASSERT_TRUE(kMimeTypeOfExtension.count(extension)) << extension << " has no MIME type";
        expected.insert(kMimeTypeOfExtension.at(extension));
    }
    EXPECT_EQ(DesktopEntryMimeTypes(), expected);
}

}  // namespace
}  // namespace rastova
