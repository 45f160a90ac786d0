#include "formats/JpegExif.h"

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
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::size_t kEntrySize = 12;
constexpr char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// Markers and fill bytes looked at before giving up: real files have a handful
// before their first scan; a file of nothing but fill bytes must not take long.
constexpr int kMaxMarkerBytes = 1 << 16;

// Reads TIFF fields in the byte order the EXIF block declares.
class TTiffView {
public:
    TTiffView(const std::uint8_t* data, std::size_t size, bool bigEndian)
        : m_data(data), m_size(size), m_bigEndian(bigEndian)
    {
    }
    bool Has(std::size_t offset, std::size_t count) const { return offset <= m_size && count <= m_size - offset; }
    std::uint16_t U16(std::size_t offset) const
    {
        const std::uint8_t* p = m_data + offset;
        return m_bigEndian ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
    }
    std::uint32_t U32(std::size_t offset) const
    {
        const std::uint32_t high = U16(offset), low = U16(offset + 2);
        return m_bigEndian ? high << 16 | low : low << 16 | high;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    bool m_bigEndian;
};

}  // namespace

TExifOrientation ExifOrientationOfApp1(const std::uint8_t* payload, std::size_t size)
{
    if (size < sizeof kExifHeader || std::memcmp(payload, kExifHeader, sizeof kExifHeader) != 0)
        return eoNone;
    const std::uint8_t* tiff = payload + sizeof kExifHeader;
    const std::size_t tiffSize = size - sizeof kExifHeader;
    if (tiffSize < 8)
        return eoNone;
    bool bigEndian = false;
    if (tiff[0] == 'M' && tiff[1] == 'M')
        bigEndian = true;
    else if (tiff[0] != 'I' || tiff[1] != 'I')
        return eoNone;
    const TTiffView view(tiff, tiffSize, bigEndian);
    if (view.U16(2) != 42)
        return eoNone;
    const std::size_t ifd = view.U32(4);
    if (!view.Has(ifd, 2))
        return eoNone;
    const std::size_t count = view.U16(ifd);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + i * kEntrySize;
        if (!view.Has(entry, kEntrySize))
            return eoNone;
        if (view.U16(entry) != kOrientationTag)
            continue;
        // A SHORT value sits in the first two bytes of the value field, in either byte order.
        if (view.U16(entry + 2) != kTypeShort || view.U32(entry + 4) < 1)
            return eoNone;
        const std::uint16_t value = view.U16(entry + 8);
        return value >= eoTopLeft && value <= eoLeftBottom ? TExifOrientation(value) : eoNone;
    }
    return eoNone;
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
