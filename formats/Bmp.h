// Windows and OS/2 bitmaps (BMP, DIB, RLE): a 14-byte file header in front of
// the raster image's packed-DIB coding (image/PackedDib.h).
#pragma once

#include "image/FileFormats.h"

namespace rastova {

// True: 16-bit colour fields are expanded with a low fill (5-bit v -> 8v + 8,
// 0 stays 0), so full-scale values reach 255.
extern bool& Correct16BitColors;

class TBMPFileFormatReader : public TFileFormatReader {
public:
    TBMPFileFormatReader();
    std::string ClassName() const override { return "TBMPFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

class TDIBFileFormatReader : public TBMPFileFormatReader {
public:
    TDIBFileFormatReader();
    std::string ClassName() const override { return "TDIBFileFormatReader"; }
};

class TRLEFileFormatReader : public TBMPFileFormatReader {
public:
    TRLEFileFormatReader();
    std::string ClassName() const override { return "TRLEFileFormatReader"; }
};

class TBMPFileFormatWriter : public TFileFormatWriter {
public:
    TBMPFileFormatWriter();
    std::string ClassName() const override { return "TBMPFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
};

class TDIBFileFormatWriter : public TBMPFileFormatWriter {
public:
    TDIBFileFormatWriter();
    std::string ClassName() const override { return "TDIBFileFormatWriter"; }
};

}  // namespace rastova
