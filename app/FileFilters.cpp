#include "app/FileFilters.h"

namespace rastova {

const std::array<TFileFilter, kFileFilterCount> kFileFilters = {{
    {"All image files",
     "*.bmp;*.dib;*.jif;*.jpeg;*.jpg;*.pbm;*.pcx;*.pgm;*.png;*.ppm;*.rle;*.tga;*.tif;*.tiff;*.ico;*.wmf;*.emf;*.gif"},
    {"BMP - Bitmap", "*.bmp"},
    {"DIB - Bitmap", "*.dib"},
    {"GIF - Graphics Interchange Format", "*.gif"},
    {"JIF - JPEG (JFIF compliant)", "*.jif"},
    {"JPEG - JPEG (JFIF compliant)", "*.jpeg"},
    {"JPG - JPEG (JFIF compliant)", "*.jpg"},
    {"PBM - Portable Bitmap", "*.pbm"},
    {"PCX - Paintbrush", "*.pcx"},
    {"PGM - Portable Graymap", "*.pgm"},
    {"PNG - Portable Network Graphics", "*.png"},
    {"PPM - Portable Pixelmap", "*.ppm"},
    {"RLE - Bitmap", "*.rle"},
    {"TGA - Truevision Targa", "*.tga"},
    {"TIF - Tagged Image File Format", "*.tif"},
    {"TIFF - Tagged Image File Format", "*.tiff"},
    {"ICO - Windows icon", "*.ico"},
    {"WMF - Windows Metafile", "*.wmf"},
    {"EMF - Enhanced Metafile", "*.emf"},
}};

QString FileFilterString()
{
    QStringList parts;
    for (const TFileFilter& filter : kFileFilters)
        parts << QString::fromLatin1(filter.Description) << QString::fromLatin1(filter.Mask);
    return parts.join('|');
}

QList<std::pair<QString, QString>> ParseFileFilterString(const QString& filters)
{
    const QStringList parts = filters.split('|');
    QList<std::pair<QString, QString>> pairs;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        pairs.append({parts[i], parts[i + 1]});
    return pairs;
}

QStringList MaskPatterns(const QString& mask)
{
    QStringList patterns;
    for (const QString& part : mask.split(';')) {
        const QString pattern = part.trimmed();
        if (!pattern.isEmpty())
            patterns << pattern;
    }
    return patterns;
}

}  // namespace rastova
