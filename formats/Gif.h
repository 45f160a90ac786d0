// GIF reader (87a and 89a): one frame of a file, uncomposited, as a palette
// image of 1, 4 or 8 bits per pixel with the frame's own size and colour table.
#pragma once

#include "image/FileFormats.h"

namespace rastova {

// Every call parses its own copy of the stream with state of its own, so one
// registered reader may serve several threads at once.
class tGifFileFormatReader : public TFileFormatReader {
public:
    tGifFileFormatReader();
    std::string ClassName() const override { return "tGifFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    // Decodes frame imageIndex (from 0). Progress events name this reader as Sender.
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    // Width and Height of frame imageIndex; bits and colours of the last frame;
    // the frame count, the version ("87a"/"89a") and "Interlaced"/"Non-interlaced".
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

}  // namespace rastova
