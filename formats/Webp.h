// WebP files through libwebp: reader and writer for "webp". Lossy, lossless and
// alpha; of an animation the first frame is read and the frame count told.
#pragma once

#include "image/FileFormats.h"
#include "image/PGExceptions.h"

namespace rastova {

RASTOVA_DECLARE_EXCEPTION(EPGWebPFileFormatReaderWriter, EPixelGraphic);

class TWebPFileFormatReader : public TFileFormatReader {
public:
    TWebPFileFormatReader();
    std::string ClassName() const override { return "TWebPFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

// Lossy at WebPQuality, or lossless with WebPLossless; method 4 as cwebp.
class TWebPFileFormatWriter : public TFileFormatWriter {
public:
    TWebPFileFormatWriter();
    std::string ClassName() const override { return "TWebPFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
};

}  // namespace rastova
