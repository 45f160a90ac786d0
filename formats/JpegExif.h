// The EXIF Orientation tag of JPEG files. Cameras store pictures as the sensor
// saw them and record in APP1 how to turn them for display; the JPEG reader
// decodes the stored pixels unchanged and leaves the turning to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rastova {

class TStream;

// EXIF Orientation values 1..8: which corner of the stored picture is the
// displayed top left.
enum TExifOrientation {
    eoNone = 0,  // no tag, or one that could not be read
    eoTopLeft = 1,
    eoTopRight = 2,     // mirrored left to right
    eoBottomRight = 3,  // turned by 180 degrees
    eoBottomLeft = 4,   // mirrored top to bottom
    eoLeftTop = 5,      // mirrored along the main diagonal
    eoRightTop = 6,     // to be turned 90 degrees clockwise
    eoRightBottom = 7,  // mirrored along the other diagonal
    eoLeftBottom = 8,   // to be turned 90 degrees counter-clockwise
};

// The Orientation of an APP1 payload (the bytes after the segment length,
// starting with "Exif\0\0"); eoNone when it has none.
TExifOrientation ExifOrientationOfApp1(const std::uint8_t* payload, std::size_t size);

// Scans the markers of a JPEG stream from its current position (at the start
// of the file) up to the first scan and returns the Orientation of the first
// EXIF segment that has one. Any byte sequence is safe: what cannot be read is
// eoNone, and at most one segment of 64 KB is held in memory.
TExifOrientation ReadJpegOrientation(TStream& stream);

// The same for a file; eoNone when the file cannot be opened.
TExifOrientation ReadJpegOrientationOfFile(const std::string& fileName);

}  // namespace rastova
