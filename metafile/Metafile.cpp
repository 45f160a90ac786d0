#include "metafile/Metafile.h"

#include "metafile/GdiPlayer.h"

#include "image/PGraphic.h"

#include <QImage>
#include <QPainter>

#include <fstream>

namespace rastova {

namespace {

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr std::size_t kEmfHeaderMinSize = 88;
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::size_t kPlaceableSize = 22;
constexpr std::size_t kWmfHeaderSize = 18;
constexpr int kScreenDpi = 96;
constexpr int kHimetricPerInch = 2540;

[[noreturn]] void Fail(const std::string& text)
{
    throw EPGMetafile("Metafile: " + text);
}

void CheckPictureSize(std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0)
        Fail("the picture has no size");
    if (width > kMaxMetafileSide || height > kMaxMetafileSide || width * height > kMaxMetafilePixels)
        Fail("the picture is too large (" + std::to_string(width) + "x" + std::to_string(height) + ")");
}

TMetafileHeader ReadEnhancedHeader(const TRecordBytes& bytes)
{
    TMetafileHeader h;
    h.Kind = mkEnhanced;
    const std::uint32_t headerSize = bytes.U32(4);
    if (headerSize < kEmfHeaderMinSize || headerSize > bytes.Size())
        Fail("bad header");
    h.FrameLeft = bytes.I32(24);
    h.FrameTop = bytes.I32(28);
    h.FrameRight = bytes.I32(32);
    h.FrameBottom = bytes.I32(36);
    h.DeviceCx = bytes.I32(72);
    h.DeviceCy = bytes.I32(76);
    h.MillimetersCx = bytes.I32(80);
    h.MillimetersCy = bytes.I32(84);
    if (h.DeviceCx <= 0 || h.DeviceCy <= 0 || h.MillimetersCx <= 0 || h.MillimetersCy <= 0)
        Fail("bad reference device");
    const std::int64_t width = MulDivRound(std::int64_t(h.FrameRight) - h.FrameLeft, kScreenDpi, kHimetricPerInch);
    const std::int64_t height = MulDivRound(std::int64_t(h.FrameBottom) - h.FrameTop, kScreenDpi, kHimetricPerInch);
    CheckPictureSize(width, height);
    h.Width = int(width);
    h.Height = int(height);
    h.FirstRecord = 0;
    return h;
}

TMetafileHeader ReadWindowsHeader(const TRecordBytes& bytes)
{
    TMetafileHeader h;
    h.Kind = mkWindows;
    if (bytes.U32(0) != kPlaceableKey) {
        const std::uint16_t type = bytes.U16(0), words = bytes.U16(2);
        if ((type == 1 || type == 2) && words == kWmfHeaderSize / 2)
            Fail("a Windows Metafile without a placeable header has no size");
        Fail("unknown file format");
    }
    h.BoxLeft = bytes.I16(6);
    h.BoxTop = bytes.I16(8);
    h.BoxRight = bytes.I16(10);
    h.BoxBottom = bytes.I16(12);
    const std::uint16_t inch = bytes.U16(14);
    if (inch == 0)
        Fail("bad placeable header");
    const TRecordBytes meta = bytes.Sub(kPlaceableSize, kWmfHeaderSize);
    const std::uint16_t type = meta.U16(0), words = meta.U16(2);
    if ((type != 1 && type != 2) || words != kWmfHeaderSize / 2)
        Fail("bad header");
    h.ObjectCount = meta.U16(10);
    const std::int64_t width = MulDivRound(std::int64_t(h.BoxRight) - h.BoxLeft, kScreenDpi, inch);
    const std::int64_t height = MulDivRound(std::int64_t(h.BoxBottom) - h.BoxTop, kScreenDpi, inch);
    CheckPictureSize(width, height);
    h.Width = int(width);
    h.Height = int(height);
    h.FirstRecord = kPlaceableSize + kWmfHeaderSize;
    return h;
}

}  // namespace

std::int64_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c)
{
    if (c == 0)
        return 0;
    const std::int64_t product = a * b;
    const bool negative = (product < 0) != (c < 0);
    const std::int64_t absProduct = product < 0 ? -product : product;
    const std::int64_t absC = c < 0 ? -c : c;
    const std::int64_t q = (2 * absProduct + absC) / (2 * absC);
    return negative ? -q : q;
}

TMetafileHeader ReadMetafileHeader(const std::uint8_t* data, std::size_t size)
{
    const TRecordBytes bytes(data, size);
    try {
        if (bytes.Has(0, kEmfHeaderMinSize) && bytes.U32(0) == kEmrHeader && bytes.U32(40) == kEmfSignature)
            return ReadEnhancedHeader(bytes);
        if (!bytes.Has(0, kWmfHeaderSize))
            Fail("unknown file format");
        return ReadWindowsHeader(bytes);
    } catch (const EMetafileRecord&) {
        Fail("bad header");
    }
}

void TMetafile::Clear()
{
    m_bytes.clear();
    m_header = TMetafileHeader{};
}

void TMetafile::LoadFromBytes(std::vector<std::uint8_t> bytes)
{
    Clear();
    const TMetafileHeader header = ReadMetafileHeader(bytes.data(), bytes.size());
    m_bytes = std::move(bytes);
    m_header = header;
}

void TMetafile::LoadFromFile(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        Fail("cannot open " + fileName);
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxMetafileFileSize)
        Fail("cannot read " + fileName);
    file.seekg(0, std::ios::beg);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size))
        Fail("cannot read " + fileName);
    LoadFromBytes(std::move(bytes));
}

void TMetafile::Draw(QPainter& painter, int left, int top) const
{
    if (Empty())
        return;
    gdi::TPlacement placement;
    const TMetafileHeader& h = m_header;
    placement.Enhanced = h.Kind == mkEnhanced;
    if (placement.Enhanced) {
        // Device pixels -> 0.01 mm -> the frame -> the output rectangle.
        const double toHimetricX = 100.0 * h.MillimetersCx / h.DeviceCx;
        const double toHimetricY = 100.0 * h.MillimetersCy / h.DeviceCy;
        const double frameWidth = double(h.FrameRight) - h.FrameLeft;
        const double frameHeight = double(h.FrameBottom) - h.FrameTop;
        const double sx = toHimetricX * h.Width / frameWidth, sy = toHimetricY * h.Height / frameHeight;
        placement.DeviceToOutput = QTransform(sx, 0, 0, sy, left - h.FrameLeft * h.Width / frameWidth,
                                              top - h.FrameTop * h.Height / frameHeight);
        placement.DevicePixelsPerMmX = double(h.DeviceCx) / h.MillimetersCx;
        placement.DevicePixelsPerMmY = double(h.DeviceCy) / h.MillimetersCy;
    } else {
        placement.WmfOutput = QRectF(left, top, h.Width, h.Height);
    }
    gdi::TGdiPlayer player(painter, placement);
    if (placement.Enhanced)
        gdi::PlayEnhanced(player, m_bytes.data(), m_bytes.size(), h);
    else
        gdi::PlayWindows(player, m_bytes.data(), m_bytes.size(), h);
}

void TMetafile::Draw(QImage& image, int left, int top) const
{
    QPainter painter(&image);
    Draw(painter, left, top);
}

void TMetafile::Draw(TPixelGraphic& bitmap, int left, int top) const
{
    if (bitmap.BitCount() != bc24 || bitmap.GetEmpty())
        throw EPGMetafile("Metafile: the target must be a 24-bit bitmap");
    const int width = bitmap.Width(), height = bitmap.Height();
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        throw EPGMetafile("Metafile: cannot create the bitmap");
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bitmap.ScanLine(y);
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    }
    Draw(image, left, top);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.ScanLine(y);
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            row[3 * x] = std::uint8_t(qBlue(line[x]));
            row[3 * x + 1] = std::uint8_t(qGreen(line[x]));
            row[3 * x + 2] = std::uint8_t(qRed(line[x]));
        }
    }
}

const char* MetafileDescription(TMetafileKind kind)
{
    return kind == mkEnhanced ? "Enhanced Metafile" : "Windows Metafile";
}

void RenderMetafile(const TMetafile& metafile, TPixelGraphic& bitmap)
{
    bitmap.SetSize(metafile.Width(), metafile.Height(), bc24);
    // A fresh bitmap is white, as a drawing surface is before anything is drawn.
    std::fill(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize(), std::uint8_t(0xFF));
    metafile.Draw(bitmap, 1, 1);
}

}  // namespace rastova
