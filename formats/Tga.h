// Truevision Targa: colour-mapped, gray and true-colour files, uncompressed or
// run-length encoded, in every origin corner. Recognised by extension only.
#pragma once

#include "image/FileFormats.h"

namespace rastova {

class TTGAFileFormatReader : public TFileFormatReader {
public:
    TTGAFileFormatReader();
    std::string ClassName() const override { return "TTGAFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

class TTGAFileFormatWriter : public TFileFormatWriter {
public:
    TTGAFileFormatWriter();
    std::string ClassName() const override { return "TTGAFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
};

}  // namespace rastova
