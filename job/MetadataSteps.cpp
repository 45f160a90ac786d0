#include "job/MetadataSteps.h"

#include "formats/Register.h"
#include "image/ColorProfile.h"
#include "image/FileFormats.h"
#include "image/PGraphic.h"

#include <utility>

namespace rastova {

TImageMetadata TakeMetadata(TPixelGraphic& image)
{
    TImageMetadata metadata = std::move(image.Metadata());
    image.SetMetadata({});
    return metadata;
}

bool TargetCarriesProfile(const std::string& outputPath)
{
    const TFileFormatWriter* writer = BuiltInFormats().FindWriter(ExtractExtensionLower(outputPath));
    return writer != nullptr && writer->CarriesColorProfile;
}

void PrepareMetadata(TPixelGraphic& image, TImageMetadata& metadata, bool keep, bool targetCarriesProfile)
{
    if (!keep)
        metadata.StripDescriptive();
    if (metadata.IccProfile.empty() || (keep && targetCarriesProfile))
        return;
    ConvertToSRGB(image, metadata.IccProfile);
    metadata.IccProfile.clear();
}

void MarkTurnedUpright(TImageMetadata& metadata)
{
    if (ExifOrientation(metadata.Exif) > 1)
        SetExifOrientation(metadata.Exif, 1);
}

}  // namespace rastova
