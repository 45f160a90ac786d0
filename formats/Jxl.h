// JPEG XL files through libjxl: reader and writer for "jxl". Lossy and lossless,
// 8-bit, 16-bit and float samples brought to 8 bits, alpha; of an animation the
// first frame is read and the frame count told.
#pragma once

#include "image/FileFormats.h"
#include "image/PGExceptions.h"

namespace rastova {

RASTOVA_DECLARE_EXCEPTION(EPGJXLFileFormatReaderWriter, EPixelGraphic);

class TJXLFileFormatReader : public TFileFormatReader {
public:
    TJXLFileFormatReader();
    std::string ClassName() const override { return "TJXLFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

// Lossy at JXLQuality (mapped to a distance as cjxl maps its quality), or
// lossless with JXLLossless; effort 7 as cjxl.
class TJXLFileFormatWriter : public TFileFormatWriter {
public:
    TJXLFileFormatWriter();
    std::string ClassName() const override { return "TJXLFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
};

// The butteraugli distance cjxl gives a quality: 0.1 + (100 - q) x 0.09 from 30
// up, steeper below.
float JXLDistanceOfQuality(int quality);

}  // namespace rastova
