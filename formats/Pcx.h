// Paintbrush (PCX) files: 1-bit, 4-bit in four planes, 8-bit with the palette
// at the end of the file, and 24-bit in three planes; always run-length encoded.
#pragma once

#include "image/FileFormats.h"

namespace rastova {

class TPCXFileFormatReader : public TFileFormatReader {
public:
    TPCXFileFormatReader();
    std::string ClassName() const override { return "TPCXFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

}  // namespace rastova
