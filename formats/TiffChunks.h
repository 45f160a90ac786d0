// The TIFF reader's general path: strips or tiles, chunky or planar samples of
// any depth from 1 to 32 bits, IEEE floats, every compression the reader
// knows. Each strip or tile ("chunk") is decoded on its own and its pixels are
// placed, scaled to 8 bits per sample, into an image-sized buffer that the
// reader then stores row by row like any 8-bit file.
#pragma once

#include "formats/TiffFax.h"
#include "formats/TiffTags.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rastova::tiff {

// Where a chunk's samples lie and what the image keeps of them.
struct TChunkLayout {
    int width = 0;  // of the image
    int length = 0;
    int chunkWidth = 0;  // of a tile; the image width for strips
    int chunkLength = 0;  // of a tile, or RowsPerStrip
    int samples = 0;  // per pixel in the file
    int bits = 0;  // per sample
    int sampleFormat = kSampleUnsigned;
    bool planar = false;
    bool motorola = false;
    int predictor = kPredictorNone;
    int keep = 0;  // leading samples the image keeps per pixel
    bool packed = false;  // single 1-, 4- or 8-bit samples kept packed as they are
    bool scale = true;  // false for palette indices
    bool bgr = false;  // three 8-bit colour samples placed as blue, green, red (the image's own rows)
    bool chunkBgr = false;  // JPEG chunks decoded in that order already

    int Planes() const { return planar ? samples : 1; }
    int ChunksAcross() const { return int((std::int64_t(width) + chunkWidth - 1) / chunkWidth); }
    int ChunksDown() const { return int((std::int64_t(length) + chunkLength - 1) / chunkLength); }
    std::int64_t ChunkCount() const { return std::int64_t(ChunksAcross()) * ChunksDown() * Planes(); }
    std::int64_t ChunkRowBytes() const
    {
        return (std::int64_t(chunkWidth) * (planar ? 1 : samples) * bits + 7) / 8;
    }
    std::int64_t ChunkBytes() const { return ChunkRowBytes() * chunkLength; }
    // A row of the image buffer: packed bits, or keep bytes per pixel.
    std::int64_t ImageRowBytes() const
    {
        return packed ? (std::int64_t(width) * bits + 7) / 8 : std::int64_t(width) * keep;
    }
};

// How a chunk's bytes are coded.
struct TChunkCoding {
    int compression = kCompressionNone;
    int photometric = 0;  // as the chunk's samples are (YCbCr, or RGB once JPEG has converted it)
    TFaxOptions fax;
    const std::vector<std::uint8_t>* jpegTables = nullptr;
    int subsampleH = 1;  // YCbCr subsampling of uncompressed chunks
    int subsampleV = 1;
};

// Decodes one chunk's bytes (fill order already undone) into layout.ChunkBytes()
// bytes of samples. A chunk that holds too little raises EPGTIFFileFormatReader.
// rows: the chunk's rows inside the image (what a fax-coded strip holds).
// Uncompressed bytes are taken over rather than copied, so bytes may be left empty.
void DecodeChunk(const TChunkLayout& layout, const TChunkCoding& coding, int rows, std::vector<std::uint8_t>& bytes,
                 std::vector<std::uint8_t>& out);

// Undoes the predictor of the chunk of that index (planes, then rows of
// chunks, then chunks left to right) and places its pixels inside the image
// into the image rows (ImageRowBytes each; rows[y] is image row y, top first).
void PlaceChunk(const TChunkLayout& layout, std::int64_t index, std::uint8_t* chunk, std::uint8_t* const* rows);

// 8-bit YCbCr samples in blocks of h x v luma samples and one Cb and Cr,
// converted to the chunk's RGB pixels.
std::int64_t YCbCrChunkBytes(int chunkWidth, int chunkLength, int h, int v);
void YCbCrToRgb(const std::uint8_t* in, int chunkWidth, int chunkLength, int h, int v, std::uint8_t* rgb);

}  // namespace rastova::tiff
