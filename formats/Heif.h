// HEIF files through libheif: HEIC (HEVC coded, "heic" and "heif") and AVIF (AV1
// coded, "avif"). The primary image is read with the file's rotation, mirror and
// crop applied and samples of more than 8 bits rounded to 8.
#pragma once

#include "image/FileFormats.h"
#include "image/PGExceptions.h"

namespace rastova {

RASTOVA_DECLARE_EXCEPTION(EPGHEICFileFormatReaderWriter, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGAVIFFileFormatReaderWriter, EPixelGraphic);

enum THeifKind { hkHEIC, hkAVIF };

class THeifFileFormatReader : public TFileFormatReader {
public:
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;

protected:
    explicit THeifFileFormatReader(THeifKind kind);

private:
    THeifKind m_kind;
};

class THEICFileFormatReader : public THeifFileFormatReader {
public:
    THEICFileFormatReader();
    std::string ClassName() const override { return "THEICFileFormatReader"; }
};

class THEIFFileFormatReader : public THEICFileFormatReader {
public:
    THEIFFileFormatReader();
    std::string ClassName() const override { return "THEIFFileFormatReader"; }
};

class TAVIFFileFormatReader : public THeifFileFormatReader {
public:
    TAVIFFileFormatReader();
    std::string ClassName() const override { return "TAVIFFileFormatReader"; }
};

// HEIC at HEICQuality with x265's "slow" preset (lossless coding is not offered);
// AVIF at AVIFQuality, or lossless with AVIFLossless, at aom speed 6 as avifenc.
class THeifFileFormatWriter : public TFileFormatWriter {
public:
    void Write(TStream& stream, TPixelGraphic& graphic) override;

protected:
    explicit THeifFileFormatWriter(THeifKind kind);

private:
    THeifKind m_kind;
};

class THEICFileFormatWriter : public THeifFileFormatWriter {
public:
    THEICFileFormatWriter();
    std::string ClassName() const override { return "THEICFileFormatWriter"; }
};

class THEIFFileFormatWriter : public THEICFileFormatWriter {
public:
    THEIFFileFormatWriter();
    std::string ClassName() const override { return "THEIFFileFormatWriter"; }
};

class TAVIFFileFormatWriter : public THeifFileFormatWriter {
public:
    TAVIFFileFormatWriter();
    std::string ClassName() const override { return "TAVIFFileFormatWriter"; }
};

}  // namespace rastova
