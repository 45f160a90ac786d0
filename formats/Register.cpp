// Registration of every format at library start-up, in the library's order.
#include "formats/Register.h"

#include "formats/Bmp.h"
#include "formats/Gif.h"
#include "formats/Ico.h"
#include "formats/Jpeg.h"
#include "formats/Pcx.h"
#include "formats/Png.h"
#include "formats/Pxm.h"
#include "formats/Tga.h"
#include "formats/Tiff.h"

#include <memory>

namespace rastova {

void RegisterAllFormats()
{
    RegisterFileFormatReader(std::make_unique<TBMPFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TDIBFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TRLEFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TJPGFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TJPEGFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TJIFFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TPNGFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TPCXFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TPBMFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TPGMFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TPPMFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TTGAFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TTIFFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<TTIFFFileFormatReader>());
    // The icon and GIF readers come last, as their own modules register them.
    RegisterFileFormatReader(std::make_unique<tIcoFileFormatReader>());
    RegisterFileFormatReader(std::make_unique<tGifFileFormatReader>());

    RegisterFileFormatWriter(std::make_unique<TBMPFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TDIBFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TJPGFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TJPEGFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TJIFFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TPNGFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TPBMFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TPGMFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TPPMFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TTGAFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TTIFFileFormatWriter>());
    RegisterFileFormatWriter(std::make_unique<TTIFFFileFormatWriter>());
}

std::unique_ptr<TFileFormatWriter> MakeStreamBmpWriter()
{
    return std::make_unique<TBMPFileFormatWriter>();
}

}  // namespace rastova
