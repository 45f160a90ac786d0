// Portable bitmap family: PBM, PGM and PPM, text (P1-P3) and raw (P4-P6).
#pragma once

#include "image/FileFormats.h"

#include <cstdint>

namespace rastova {

// When true the writers produce the raw variants P4/P5/P6.
extern bool PxMWriteBinary;

class TPxMFileFormatReader : public TFileFormatReader {
public:
    std::string ClassName() const override { return "TPxMFileFormatReader"; }
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

class TPBMFileFormatReader : public TPxMFileFormatReader {
public:
    TPBMFileFormatReader();
    std::string ClassName() const override { return "TPBMFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
};

class TPGMFileFormatReader : public TPxMFileFormatReader {
public:
    TPGMFileFormatReader();
    std::string ClassName() const override { return "TPGMFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
};

class TPPMFileFormatReader : public TPxMFileFormatReader {
public:
    TPPMFileFormatReader();
    std::string ClassName() const override { return "TPPMFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
};

// PAM (P7): black and white, gray and RGB tuples, with or without alpha (dropped),
// samples of one or two bytes.
class TPAMFileFormatReader : public TFileFormatReader {
public:
    TPAMFileFormatReader();
    std::string ClassName() const override { return "TPAMFileFormatReader"; }
    bool CheckSignature(const TSignatureHeader& header) override;
    void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex) override;
    void GetInfo(TStream& stream, int imageIndex, TFileInfo& info) override;
};

// The three kinds in the order of their magic numbers (P1/P4, P2/P5, P3/P6).
enum class TPxMKind : std::uint8_t { Bitmap, Graymap, Pixmap };

class TPXMFileFormatWriter : public TFileFormatWriter {
public:
    std::string ClassName() const override { return "TPXMFileFormatWriter"; }
    void Write(TStream& stream, TPixelGraphic& graphic) override;

    const TPxMKind Kind;

protected:
    explicit TPXMFileFormatWriter(TPxMKind kind);
};

class TPBMFileFormatWriter : public TPXMFileFormatWriter {
public:
    TPBMFileFormatWriter();
    std::string ClassName() const override { return "TPBMFileFormatWriter"; }
};

class TPGMFileFormatWriter : public TPXMFileFormatWriter {
public:
    TPGMFileFormatWriter();
    std::string ClassName() const override { return "TPGMFileFormatWriter"; }
};

class TPPMFileFormatWriter : public TPXMFileFormatWriter {
public:
    TPPMFileFormatWriter();
    std::string ClassName() const override { return "TPPMFileFormatWriter"; }
};

}  // namespace rastova
