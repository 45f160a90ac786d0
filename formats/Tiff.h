// Tagged Image File Format: a reader (uncompressed, PackBits, LZW and Deflate
// strips with horizontal differencing; bilevel, gray, palette, RGB, RGB with an
// extra sample or alpha, CMYK; 16-bit gray and RGB reduced to 8 bits) and a
// writer for every pixel format of the image model. Both parse and write every
// byte themselves (Deflate through zlib); no TIFF library is involved.
#pragma once

#include "image/FileFormats.h"

#include <cstdint>

namespace rastova {

// ---- library-wide reader settings ---------------------------------------------------

// Walk the whole IFD chain to count the images and to select one by index;
// when false only the first IFD is used and every file counts as one image.
extern bool TIFFScanAllIFDs;
// While walking, a chain longer than this counts as broken.
extern int TIFFMaxIFDCount;
// Compressed strips of a large image are decoded side by side on this many
// threads; 0 means one per online processor, 1 decodes on the caller's thread only.
extern int TIFFReadThreads;

// ---- library-wide writer settings ---------------------------------------------------

// twcNone, twcPackBits, twcLZW or twcDeflate (both with horizontal differencing
// of 8-bit gray and colour samples); anything else is refused.
extern TTIFFWriteCompression TIFFWriteCompression;
// bc24 images are written as CMYK (four samples) instead of RGB.
extern bool TIFFWriteCMYK;
// Gray and bilevel images are written as WhiteIsZero with inverted values.
extern bool TIFFWriteWhiteIsZero;
// Byte order "MM" (big-endian) instead of "II".
extern bool TIFFWriteMotorola;
extern TTIFFResolutionUnit TIFFWriteResolutionUnit;
extern std::uint32_t TIFFWriteXResNum;
extern std::uint32_t TIFFWriteXResDen;
extern std::uint32_t TIFFWriteYResNum;
extern std::uint32_t TIFFWriteYResDen;

class TTIFFileFormatReader : public TFileFormatReader {
public:
    TTIFFileFormatReader();
    std::string ClassName() const override { return "TTIFFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

class TTIFFFileFormatReader : public TTIFFileFormatReader {
public:
    TTIFFFileFormatReader();
    std::string ClassName() const override { return "TTIFFFileFormatReader"; }
};

// Write = WriteHeader, WriteImage, WriteEnd. WriteImage leaves the link at its own
// next-IFD field, so calling it again before WriteEnd chains another image.
class TTIFFileFormatWriter : public TFileFormatWriter {
public:
    // Where one file being written stands. Write keeps its own, so one
    // registered writer serves any number of threads at once.
    struct TFileState {
        std::int64_t basePosition = 0;  // where the header begins; offsets are relative to it
        std::int64_t linkPosition = 0;  // the 32-bit field that receives the next IFD's offset
        bool motorola = false;          // byte order chosen by WriteHeader for the whole file
    };

    TTIFFileFormatWriter();
    std::string ClassName() const override { return "TTIFFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
    // The three-call form keeps its state on this object: one file at a time.
    void WriteHeader(TStream& stream) override { WriteHeader(stream, m_state); }
    void WriteImage(TStream& stream, TPixelGraphic& graphic) override { WriteImage(stream, graphic, m_state); }
    // The file needs nothing after its last image.
    void WriteTrailer(TStream& stream) override;
    void WriteEnd(TStream& stream) { WriteTrailer(stream); }

    void WriteHeader(TStream& stream, TFileState& state);
    void WriteImage(TStream& stream, TPixelGraphic& graphic, TFileState& state);

private:
    TFileState m_state;
};

class TTIFFFileFormatWriter : public TTIFFileFormatWriter {
public:
    TTIFFFileFormatWriter();
    std::string ClassName() const override { return "TTIFFFileFormatWriter"; }
};

}  // namespace rastova
