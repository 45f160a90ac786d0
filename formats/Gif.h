// Gif files.
#pragma once

#include "image/FileFormats.h"

namespace rastova {

class tGifFileFormatReader : public TFileFormatReader {
public:
    tGifFileFormatReader();
    std::string ClassName() const override { return "tGifFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

}  // namespace rastova
