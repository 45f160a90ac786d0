// Windows metafiles (WMF with a placeable header, EMF): size in pixels and
// playback onto a QPainter. The picture is drawn aliased, like the system's
// own graphics interface, since it is reduced to a small palette afterwards.
#pragma once

#include "metafile/RecordBytes.h"

#include <cstdint>
#include <string>
#include <vector>

class QImage;
class QPainter;

namespace rastova {

class TPixelGraphic;

enum TMetafileKind { mkWindows, mkEnhanced };

// Pictures larger than this are refused like a bitmap that cannot be created.
constexpr int kMaxMetafileSide = 32767;
constexpr std::int64_t kMaxMetafilePixels = std::int64_t(64) << 20;
// Files are read whole; anything larger is not a picture we can play.
constexpr std::int64_t kMaxMetafileFileSize = std::int64_t(256) << 20;

// Rounded a * b / c, halves away from zero; 0 when c is 0.
std::int64_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c);

// The header facts playback and sizing need.
struct TMetafileHeader {
    TMetafileKind Kind = mkEnhanced;
    int Width = 0;   // pixels at 96 dpi
    int Height = 0;
    // EMF: the frame in 0.01 mm and the reference device.
    std::int32_t FrameLeft = 0, FrameTop = 0, FrameRight = 0, FrameBottom = 0;
    std::int32_t DeviceCx = 0, DeviceCy = 0, MillimetersCx = 0, MillimetersCy = 0;
    std::size_t FirstRecord = 0;  // byte offset of the first record to play
    // WMF: the placeable bounding box in logical units, and the object table size.
    std::int16_t BoxLeft = 0, BoxTop = 0, BoxRight = 0, BoxBottom = 0;
    int ObjectCount = 0;
};

// Reads and checks the header; EPGMetafile when the bytes are not a metafile
// this player can size.
TMetafileHeader ReadMetafileHeader(const std::uint8_t* data, std::size_t size);

class TMetafile {
public:
    void LoadFromFile(const std::string& fileName);
    void LoadFromBytes(std::vector<std::uint8_t> bytes);
    void Clear();

    bool Empty() const { return m_bytes.empty(); }
    TMetafileKind Kind() const { return m_header.Kind; }
    int Width() const { return m_header.Width; }
    int Height() const { return m_header.Height; }
    const TMetafileHeader& Header() const { return m_header; }

    // Plays the records into the rectangle (left, top) + (Width, Height) on a
    // painter whose transform is the identity. A damaged record ends the
    // picture with what was drawn before it.
    void Draw(QPainter& painter, int left, int top) const;
    // Onto an RGB32 image, keeping what is already there.
    void Draw(QImage& image, int left, int top) const;
    // Onto a bc24 bitmap, keeping what is already there.
    void Draw(TPixelGraphic& bitmap, int left, int top) const;

private:
    std::vector<std::uint8_t> m_bytes;
    TMetafileHeader m_header;
};

// "Windows Metafile" / "Enhanced Metafile".
const char* MetafileDescription(TMetafileKind kind);

// Convenience for hosts: a white W x H bc24 bitmap with the picture drawn at (1, 1).
void RenderMetafile(const TMetafile& metafile, TPixelGraphic& bitmap);

}  // namespace rastova
