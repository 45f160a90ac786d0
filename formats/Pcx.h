// Pcx files.
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
