// Png files.
#pragma once

#include "image/FileFormats.h"

namespace rastova {

class TPNGFileFormatReader : public TFileFormatReader {
public:
    TPNGFileFormatReader();
    std::string ClassName() const override { return "TPNGFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

class TPNGFileFormatWriter : public TFileFormatWriter {
public:
    TPNGFileFormatWriter();
    std::string ClassName() const override { return "TPNGFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
};

}  // namespace rastova
