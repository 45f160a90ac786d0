// The library's exception family. Every error the image library raises is an
// EPixelGraphic, so a host can catch the whole family with one handler.
#pragma once

#include <stdexcept>
#include <string>

namespace rastova {

class EPixelGraphic : public std::runtime_error {
public:
    explicit EPixelGraphic(const std::string& message) : std::runtime_error(message) {}
};

#define RASTOVA_DECLARE_EXCEPTION(Name, Base)                                \
    class Name : public Base {                                               \
    public:                                                                  \
        explicit Name(const std::string& message) : Base(message) {}         \
    }

// Raster image and registry errors.
RASTOVA_DECLARE_EXCEPTION(EPGXYIndexOutOfRange, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGNoPalette, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGInvalidPaletteIndex, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGEmpty, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGCanWriteResolutionsEmpty, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGCannotWriteColorRes, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGFileFormatWritersEmpty, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGUnknownExtension, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGUnknownFileFormat, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGUnknownClipboardFormat, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGInvalidBitCountNum, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGInvalidSize, EPixelGraphic);

// One class per format.
RASTOVA_DECLARE_EXCEPTION(EPGBMPFileFormatReader, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGJPGFileFormatReaderWriter, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGPNGFileFormatReaderWriter, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGPCXFileFormatReader, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGPxMFileFormatReader, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGPxMFileFormatWriter, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGTGAFileFormatReader, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGTIFFileFormatReader, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EPGTIFFileFormatWriter, EPixelGraphic);

// Stream errors belong to the family too: a truncated file read through
// ReadBuffer must reach the caller as a library error like any other bad file.
RASTOVA_DECLARE_EXCEPTION(EStreamError, EPixelGraphic);
RASTOVA_DECLARE_EXCEPTION(EReadError, EStreamError);
RASTOVA_DECLARE_EXCEPTION(EWriteError, EStreamError);
RASTOVA_DECLARE_EXCEPTION(EFOpenError, EStreamError);
RASTOVA_DECLARE_EXCEPTION(EFCreateError, EStreamError);

}  // namespace rastova
