// Bmp files.
#pragma once

#include "image/FileFormats.h"

namespace rastova {

class TBMPFileFormatReader : public TFileFormatReader {
public:
    TBMPFileFormatReader();
    std::string ClassName() const override { return "TBMPFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

class TDIBFileFormatReader : public TBMPFileFormatReader {
public:
    TDIBFileFormatReader();
    std::string ClassName() const override { return "TDIBFileFormatReader"; }
};

class TRLEFileFormatReader : public TBMPFileFormatReader {
public:
    TRLEFileFormatReader();
    std::string ClassName() const override { return "TRLEFileFormatReader"; }
};

class TBMPFileFormatWriter : public TFileFormatWriter {
public:
    TBMPFileFormatWriter();
    std::string ClassName() const override { return "TBMPFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
};

class TDIBFileFormatWriter : public TBMPFileFormatWriter {
public:
    TDIBFileFormatWriter();
    std::string ClassName() const override { return "TDIBFileFormatWriter"; }
};

}  // namespace rastova
