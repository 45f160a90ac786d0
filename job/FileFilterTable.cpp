#include "job/FileFilterTable.h"

namespace rastova {

const std::array<TFileFilter, kFileFilterCount> kFileFilters = {{
    {"All image files",
     "*.bmp;*.dib;*.jif;*.jpeg;*.jpg;*.pbm;*.pcx;*.pgm;*.png;*.ppm;*.rle;*.tga;*.tif;*.tiff;*.ico;*.wmf;*.emf;*.gif;"
     "*.webp;*.avif;*.heic;*.heif;*.jxl;*.pam"},
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
    {"WEBP - WebP", "*.webp"},
    {"AVIF - AVIF", "*.avif"},
    {"HEIC - HEIC", "*.heic"},
    {"HEIF - HEIC", "*.heif"},
    {"JXL - JPEG XL", "*.jxl"},
    {"PAM - Portable Arbitrary Map", "*.pam"},
}};

}  // namespace rastova
