// Tiff files.
#pragma once

#include "image/FileFormats.h"

namespace rastova {

class TTIFFileFormatReader : public TFileFormatReader {
public:
    TTIFFileFormatReader();
    std::string ClassName() const override { return "TTIFFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

class TTIFFFileFormatReader : public TTIFFileFormatReader {
public:
    TTIFFFileFormatReader();
    std::string ClassName() const override { return "TTIFFFileFormatReader"; }
};

class TTIFFileFormatWriter : public TFileFormatWriter {
public:
    TTIFFileFormatWriter();
    std::string ClassName() const override { return "TTIFFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
};

class TTIFFFileFormatWriter : public TTIFFileFormatWriter {
public:
    TTIFFFileFormatWriter();
    std::string ClassName() const override { return "TTIFFFileFormatWriter"; }
};

}  // namespace rastova
