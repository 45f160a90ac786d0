#include "formats/Jpeg.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

namespace rastova {

int JPEGQuality = 80;

TJPGFileFormatReader::TJPGFileFormatReader()
{
    Extension = "jpg";
    Description = "JPEG (JFIF compliant)";
    HasSignature = true;
}

bool TJPGFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void TJPGFileFormatReader::Read(TStream&, TPixelGraphic&, int)
{
    throw EPGJPGFileFormatReaderWriter("jpg: reader not built yet");
}

void TJPGFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
}

TJPEGFileFormatReader::TJPEGFileFormatReader()
{
    Extension = "jpeg";
    Description = "JPEG (JFIF compliant)";
    HasSignature = true;
}

TJIFFileFormatReader::TJIFFileFormatReader()
{
    Extension = "jif";
    Description = "JPEG (JFIF compliant)";
    HasSignature = true;
}

TJPGFileFormatWriter::TJPGFileFormatWriter()
{
    Extension = "jpg";
    Description = "JPEG (JFIF compliant)";
    CanWriteResolutions = TColorResolutions(ResolutionBit(cr256Gray) | ResolutionBit(crTrueColor));
}

void TJPGFileFormatWriter::Write(TStream&, TPixelGraphic&)
{
    throw EPGJPGFileFormatReaderWriter("jpg: writer not built yet");
}

TJPEGFileFormatWriter::TJPEGFileFormatWriter()
{
    Extension = "jpeg";
    Description = "JPEG (JFIF compliant)";
    CanWriteResolutions = TColorResolutions(ResolutionBit(cr256Gray) | ResolutionBit(crTrueColor));
}

TJIFFileFormatWriter::TJIFFileFormatWriter()
{
    Extension = "jif";
    Description = "JPEG (JFIF compliant)";
    CanWriteResolutions = TColorResolutions(ResolutionBit(cr256Gray) | ResolutionBit(crTrueColor));
}

}  // namespace rastova
