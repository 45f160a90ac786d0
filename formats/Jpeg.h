// JPEG (JFIF) files through libjpeg: readers and writers for "jpg", "jpeg" and "jif".
#pragma once

#include "image/FileFormats.h"
#include "image/PGSettings.h"

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

namespace rastova {

// Quality 5..95 used by the JPEG writers; the conversion job sets it from the quality dialog.
extern int& JPEGQuality;
// Write progressive files instead of baseline ones.
extern bool& JPEGProgressive;
// Transform used when compressing (JDCT_FLOAT) and when decompressing (JDCT_ISLOW);
// an image whose JPEGFastDCT is set is decompressed with JDCT_IFAST instead.
// The settings store keeps them as TDCTMethod, so the core needs no libjpeg
// header; these names read and write them as libjpeg's values.
class TDCTMethodName {
public:
    constexpr explicit TDCTMethodName(TDCTMethod& value) : m_value(value) {}
    operator J_DCT_METHOD() const { return J_DCT_METHOD(m_value); }
    TDCTMethodName& operator=(J_DCT_METHOD method)
    {
        m_value = TDCTMethod(method);
        return *this;
    }

private:
    TDCTMethod& m_value;
};
extern TDCTMethodName JPEGWriteDCTMethod;
extern TDCTMethodName JPEGReadDCTMethod;

class TJPGFileFormatReader : public TFileFormatReader {
public:
    TJPGFileFormatReader();
    std::string ClassName() const override { return "TJPGFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

class TJPEGFileFormatReader : public TJPGFileFormatReader {
public:
    TJPEGFileFormatReader();
    std::string ClassName() const override { return "TJPEGFileFormatReader"; }
};

class TJIFFileFormatReader : public TJPGFileFormatReader {
public:
    TJIFFileFormatReader();
    std::string ClassName() const override { return "TJIFFileFormatReader"; }
};

class TJPGFileFormatWriter : public TFileFormatWriter {
public:
    TJPGFileFormatWriter();
    std::string ClassName() const override { return "TJPGFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;
};

class TJPEGFileFormatWriter : public TJPGFileFormatWriter {
public:
    TJPEGFileFormatWriter();
    std::string ClassName() const override { return "TJPEGFileFormatWriter"; }
};

class TJIFFileFormatWriter : public TJPGFileFormatWriter {
public:
    TJIFFileFormatWriter();
    std::string ClassName() const override { return "TJIFFileFormatWriter"; }
};

}  // namespace rastova
