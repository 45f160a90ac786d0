// Windows icon reader: one image of an icon file's directory, 1, 4 or 8 bits
// per pixel with its transparency mask, delivered by default as a 24-bit
// picture with masked pixels in IcoMaskColor; 24-bit images (mask applied the
// same way), 32-bit images (alpha laid over BackGroundColor) and PNG-compressed
// images (decoded by the PNG reader) as 24-bit pictures too.
#pragma once

#include "image/FileFormats.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rastova {

// Library-wide settings of the icon reader.
extern bool& IcoTrueColor;                // true: 24 bits with masked pixels replaced; false: the palette image, mask ignored
extern TColor& IcoMaskColor;              // white: masked pixels and the image's TransparentColor
extern std::string& IcoNotAnIconMessage;  // "Not an Icon file"
extern std::string& IcoSizesWord;         // "Sizes", GetInfo of files with several images
extern std::string& IcoColorsWord;        // "Colors"

struct TIconDirectory {
    int count = 0;  // 0 when the directory is not valid
    int type = 0;   // 1 icon, 2 cursor
};

struct TIconEntryInfo {
    int width = 0;
    int height = 0;
    int bitCount = 0;
};

// One icon image held as a complete single-image icon file in one memory
// block: directory header, one entry, BITMAPINFOHEADER, palette, colour
// bitmap (rows bottom-up) and mask (1 = transparent).
class tIconHandler : public TObject {
public:
    static constexpr int kHeaderBytes = 62;  // 6 directory + 16 entry + 40 BITMAPINFOHEADER

    // Validates the directory at offset: reserved 0, type 1 or 2, count > 0,
    // room for the entries, every image inside the stream. Invalid: {0, 0}.
    // These three restore the stream position.
    TIconDirectory ReadDirectory(TStream& stream, std::int64_t offset);
    // Size and bit count from the image's BITMAPINFOHEADER (height halved); zeros
    // for an index outside the directory or a header that is not there.
    TIconEntryInfo EntryInfo(TStream& stream, std::int64_t offset, int index);
    // Loads one image into the block; false (and no block) when the image is
    // unsupported, its bytes-in-resource does not match its bitmaps, or its data
    // is cut short.
    bool LoadEntry(TStream& stream, std::int64_t offset, int index);

    // Sizes, zero-fills and heads the block; false for sizes outside 8..64,
    // bit counts other than 1, 4, 8 or types other than 1, 2.
    bool Prepare(int width, int height, int type, int bitCount);
    // Colour-bitmap value of pixel (x, y), y = 0 the top row; 0 outside the image.
    int PixelIndex(int x, int y);
    // The mask colour where the mask bit is set (and outside the image), else the
    // palette colour of the pixel's index.
    TRGB PixelColor(int x, int y);
    // Palette entry i (colour value 0x00BBGGRR in colour-value order); 0 beyond the palette.
    TRGB PaletteEntry(int index) const;
    void SetPaletteOrder(bool colorValueOrder);
    void Free();

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int BitCount() const { return m_bitCount; }
    int ColorCount() const { return m_colorCount; }
    int Type() const { return m_type; }
    TColor MaskColor() const { return m_maskColor; }
    void SetMaskColor(TColor color) { m_maskColor = color; }
    bool PaletteInColorValueOrder() const { return m_colorValueOrder; }
    // The single-image icon file; empty when nothing is loaded.
    const std::vector<std::uint8_t>& Block() const { return m_block; }
    std::vector<std::uint8_t>& Block() { return m_block; }

private:
    void CacheRow(int y);

    std::vector<std::uint8_t> m_block;
    int m_width = 0;
    int m_height = 0;
    int m_bitCount = 0;
    int m_colorCount = 0;
    int m_type = 0;
    std::size_t m_paletteOffset = 0;
    std::size_t m_paletteSize = 0;
    std::size_t m_bitmapOffset = 0;
    std::size_t m_bitmapSize = 0;
    std::size_t m_maskOffset = 0;
    std::size_t m_maskSize = 0;
    std::size_t m_rowSize = 0;
    std::size_t m_maskRowSize = 0;
    int m_currentRow = -1;
    const std::uint8_t* m_colorRow = nullptr;
    const std::uint8_t* m_maskRow = nullptr;
    TColor m_maskColor = 0xFFFFFF;
    bool m_colorValueOrder = true;
    bool m_wantedColorValueOrder = true;
};

// Each call works with a handler of its own, so one registered reader may
// serve several threads at once.
class tIcoFileFormatReader : public TFileFormatReader {
public:
    tIcoFileFormatReader();
    std::string ClassName() const override { return "tIcoFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    // Decodes directory entry imageIndex (from 0). Progress events name this
    // reader as Sender.
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    // imageIndex is not used: entry 0 gives the size and bits; several images
    // give "Sizes a..b" and "Colors x..y".
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

}  // namespace rastova
