// PNG files through libpng: reader and writer for "png".
#pragma once

#include "image/FileFormats.h"

namespace rastova {

// A file with transparency and a bKGD chunk gives the image that colour as its
// BackGroundColor, the one its alpha is flattened onto.
extern bool PNGUseFileBackground;
// The writer stores a gAMA chunk derived from the image's Gamma.
extern bool PNGWriteGamma;

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
