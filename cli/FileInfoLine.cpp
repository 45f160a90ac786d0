#include "cli/FileInfoLine.h"

#include "formats/Register.h"
#include "image/FileFormats.h"
#include "image/PGSettings.h"
#include "image/Streams.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>

namespace rastova {

namespace {

std::string FormatName(const std::string& extension)
{
    static const std::map<std::string, std::string> kNames = {{"jpg", "JPEG"}, {"jpeg", "JPEG"}, {"jif", "JPEG"},
                                                               {"tif", "TIFF"}, {"dib", "BMP"},   {"rle", "BMP"},
                                                               {"webp", "WebP"}, {"heif", "HEIC"}, {"jxl", "JPEG XL"}};
    if (const auto known = kNames.find(extension); known != kNames.end())
        return known->second;
    std::string name = extension;
    for (char& c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::string ColourText(const TFileInfo& info)
{
    const int bits = info.BitsPerPixel;
    if (bits == 24 || bits == 48)
        return std::to_string(bits) + "-bit RGB";
    if (bits == 32 || bits == 64)
        return std::to_string(bits) + "-bit RGBA";
    // Transparency the bit count does not show: a tRNS chunk, a transparent index.
    const std::string alpha = info.HasAlpha ? ", with alpha" : "";
    if (bits <= 0)
        return info.ColorsText + " colours" + alpha;
    return std::to_string(bits) + "-bit, " + info.ColorsText + " colours" + alpha;
}

}  // namespace

std::string ByteSizeText(std::uintmax_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes < 1024 * 1024)
        return std::to_string((bytes + 512) / 1024) + " KB";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string InfoLine(const std::string& readerExtension, const TFileInfo& info, std::uintmax_t bytes)
{
    const int frames = std::max(info.ImageCount, 1);
    return FormatName(readerExtension) + ", " + std::to_string(info.Width) + " x " + std::to_string(info.Height) +
           ", " + ColourText(info) + ", " + std::to_string(frames) + (frames == 1 ? " frame, " : " frames, ") +
           ByteSizeText(bytes);
}

std::optional<std::string> DescribeImageFile(const std::string& path)
{
    try {
        // Every page of a TIFF is counted, as --frames all writes each.
        TPGSettings settings = DefaultSettings();
        settings.TIFFScanAllIFDs = true;
        const TSettingsScope scope(settings);
        TFileStream stream(path, fmOpenRead);
        const std::string extension = ExtractExtensionLower(path);
        const TFileFormatReader* reader = SelectReader(stream, extension);
        TFileInfo info;
        if (!reader || !GetFileInfoFromStream(stream, extension, 0, info))
            return std::nullopt;
        std::error_code error;
        const std::uintmax_t bytes = std::filesystem::file_size(path, error);
        return InfoLine(reader->Extension, info, error ? 0 : bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace rastova
