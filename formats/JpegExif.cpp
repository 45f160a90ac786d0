#include "formats/JpegExif.h"

#include "image/Metadata.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <array>
#include <cstring>
#include <vector>

namespace rastova {

namespace {

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kApp1 = 0xE1;
constexpr char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// Markers and fill bytes looked at before giving up: real files have a handful
// before their first scan; a file of nothing but fill bytes must not take long.
constexpr int kMaxMarkerBytes = 1 << 16;

}  // namespace

TExifOrientation ExifOrientationOfApp1(const std::uint8_t* payload, std::size_t size)
{
    if (size < sizeof kExifHeader || std::memcmp(payload, kExifHeader, sizeof kExifHeader) != 0)
        return eoNone;
    // The block itself is read where every format's EXIF is read.
    return TExifOrientation(ExifOrientation(TBytes(payload + sizeof kExifHeader, payload + size)));
}

TExifOrientation ReadJpegOrientation(TStream& stream)
{
    std::array<std::uint8_t, 2> start{};
    if (stream.Read(start.data(), 2) != 2 || start[0] != kMarkerPrefix || start[1] != kStartOfImage)
        return eoNone;
    std::vector<std::uint8_t> segment;
    int markerBytes = 0;
    while (markerBytes < kMaxMarkerBytes) {
        std::uint8_t byte = 0;
        if (stream.Read(&byte, 1) != 1 || byte != kMarkerPrefix)
            return eoNone;
        std::uint8_t marker = kMarkerPrefix;
        while (marker == kMarkerPrefix && ++markerBytes < kMaxMarkerBytes)
            if (stream.Read(&marker, 1) != 1)
                return eoNone;
        if (marker == kMarkerPrefix || marker == kStartOfScan || marker == kEndOfImage)
            return eoNone;
        // Restart markers, TEM and stray zero bytes carry no length.
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 || marker == 0x00)
            continue;
        std::array<std::uint8_t, 2> length{};
        if (stream.Read(length.data(), 2) != 2)
            return eoNone;
        const std::size_t payload = std::size_t(length[0] << 8 | length[1]);
        if (payload < 2)
            return eoNone;
        if (marker == kApp1) {
            segment.resize(payload - 2);
            if (stream.Read(segment.data(), std::int64_t(segment.size())) != std::int64_t(segment.size()))
                return eoNone;
            const TExifOrientation orientation = ExifOrientationOfApp1(segment.data(), segment.size());
            if (orientation != eoNone)
                return orientation;
        } else {
            stream.Seek(std::int64_t(payload - 2), soCurrent);
        }
    }
    return eoNone;
}

TExifOrientation ReadJpegOrientationOfFile(const std::string& fileName)
{
    try {
        TFileStream stream(fileName, fmOpenRead);
        return ReadJpegOrientation(stream);
    } catch (const std::exception&) {
        // Opening is the loader's business; it reports why it cannot.
        return eoNone;
    }
}

}  // namespace rastova
