// What the WebP, HEIF (HEIC, AVIF) and JPEG XL glue shares: the settings of
// those codecs, the file in memory, the thread count and the exchange of rows
// between the codecs' top-down RGB(A) samples and the image's stored rows.
#pragma once

#include "image/PGTypes.h"
#include "image/PGraphic.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rastova {

class TStream;

// Quality 1..100 of lossy coding and the lossless switches; the job sets the
// qualities from the quality dialog or the command line.
extern int& WebPQuality;
extern bool& WebPLossless;
extern int& HEICQuality;
extern int& AVIFQuality;
extern bool& AVIFLossless;
extern int& JXLQuality;
extern bool& JXLLossless;
// Threads one image may use in these codecs; 0: one per online processor.
extern int& PhotoCodecThreads;

// The rest of the stream, from its position to its end; these codecs parse
// from memory.
std::vector<std::uint8_t> ReadRestOfStream(TStream& stream);

// The thread count of PhotoCodecThreads in Settings(), at least 1.
int PhotoCodecThreadCount();

// Quality clamped to 1..100.
int ClampQuality(int quality);

// Image row y (0 = top) from top-down samples: RGB, or RGBA with the alpha
// laid over background. red at offset 0.
void StoreRgbRow(TPixelGraphic& graphic, int y, const std::uint8_t* rgb);
void StoreRgbaRowOver(TPixelGraphic& graphic, int y, const std::uint8_t* rgba, TRGB background);
// The image format of a decoded picture: 32-bit when it has alpha, unless the
// host asked for alpha laid over the background at load.
TBitCount PhotoPixelFormat(bool alpha);
// One top-down RGBA row: kept as it is in a 32-bit image, else laid over the
// image's background.
void StoreRgbaRow(TPixelGraphic& graphic, int y, const std::uint8_t* rgba);
// The same for a run of count pixels starting at column x.
void StoreRgbRun(TPixelGraphic& graphic, int x, int y, int count, const std::uint8_t* rgb);
void StoreRgbaRunOver(TPixelGraphic& graphic, int x, int y, int count, const std::uint8_t* rgba, TRGB background);

// Stores the top rows 0..rows-1 through storeRow(y), each followed by its
// progress event from sender; true when the handler aborted, the rows below
// then staying as they were.
template <class TStoreRow>
bool StoreRowsReporting(TPixelGraphic& graphic, TObject* sender, int rows, TStoreRow storeRow)
{
    for (int y = 0; y < rows; ++y) {
        storeRow(y);
        if (graphic.Progress(sender, y, graphic.Height()))
            return true;
    }
    return false;
}

// The whole image as top-down RGB samples, three bytes per pixel, red first,
// rows of exactly width x 3 bytes; palette images through their palettes. One
// progress event from sender per row; writers do not stop on Abort.
std::vector<std::uint8_t> TopDownRgb(TPixelGraphic& graphic, TObject* sender);

// The text for bit depth, alpha and frame count that GetInfo shows, such as
// "lossy, 8-bit, alpha, 12 frames".
std::string PhotoSubFormatText(const std::string& coding, int bitDepth, bool alpha, int frames);

}  // namespace rastova
