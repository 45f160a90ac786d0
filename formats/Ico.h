// Ico files.
#pragma once

#include "image/FileFormats.h"

namespace rastova {

class tIcoFileFormatReader : public TFileFormatReader {
public:
    tIcoFileFormatReader();
    std::string ClassName() const override { return "tIcoFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

}  // namespace rastova
