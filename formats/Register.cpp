// Registration of every format at library start-up. The order of the calls
// has no effect: the registry keeps its lookup lists sorted.
#include "formats/Register.h"

#include "formats/Bmp.h"
#include "formats/Gif.h"
#include "formats/Heif.h"
#include "formats/Ico.h"
#include "formats/Jpeg.h"
#include "formats/Jxl.h"
#include "formats/Pcx.h"
#include "formats/Png.h"
#include "formats/Pxm.h"
#include "formats/Tga.h"
#include "formats/Tiff.h"
#include "formats/Webp.h"

#include <memory>

namespace rastova {

void RegisterBuiltInFormats(TFormatRegistry& registry)
{
    registry.RegisterReader(std::make_unique<TBMPFileFormatReader>());
    registry.RegisterReader(std::make_unique<TDIBFileFormatReader>());
    registry.RegisterReader(std::make_unique<TRLEFileFormatReader>());
    registry.RegisterReader(std::make_unique<TJPGFileFormatReader>());
    registry.RegisterReader(std::make_unique<TJPEGFileFormatReader>());
    registry.RegisterReader(std::make_unique<TJIFFileFormatReader>());
    registry.RegisterReader(std::make_unique<TPNGFileFormatReader>());
    registry.RegisterReader(std::make_unique<TPCXFileFormatReader>());
    registry.RegisterReader(std::make_unique<TPBMFileFormatReader>());
    registry.RegisterReader(std::make_unique<TPGMFileFormatReader>());
    registry.RegisterReader(std::make_unique<TPPMFileFormatReader>());
    registry.RegisterReader(std::make_unique<TPAMFileFormatReader>());
    registry.RegisterReader(std::make_unique<TTGAFileFormatReader>());
    registry.RegisterReader(std::make_unique<TTIFFileFormatReader>());
    registry.RegisterReader(std::make_unique<TTIFFFileFormatReader>());
    registry.RegisterReader(std::make_unique<tIcoFileFormatReader>());
    registry.RegisterReader(std::make_unique<tGifFileFormatReader>());
    registry.RegisterReader(std::make_unique<TWebPFileFormatReader>());
    registry.RegisterReader(std::make_unique<THEICFileFormatReader>());
    registry.RegisterReader(std::make_unique<THEIFFileFormatReader>());
    registry.RegisterReader(std::make_unique<TAVIFFileFormatReader>());
    registry.RegisterReader(std::make_unique<TJXLFileFormatReader>());

    registry.RegisterWriter(std::make_unique<TBMPFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TDIBFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TJPGFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TJPEGFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TJIFFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TPNGFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TPBMFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TPGMFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TPPMFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TTGAFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TTIFFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TTIFFFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TWebPFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<THEICFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<THEIFFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TAVIFFileFormatWriter>());
    registry.RegisterWriter(std::make_unique<TJXLFileFormatWriter>());
}

std::unique_ptr<TFileFormatWriter> MakeStreamBmpWriter()
{
    return std::make_unique<TBMPFileFormatWriter>();
}

}  // namespace rastova
