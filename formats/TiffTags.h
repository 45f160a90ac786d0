// Numbers of the TIFF file layout shared by the reader and the writer, and the
// PackBits row coders (their own functions so they can be tested on their own).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rastova::tiff {

constexpr int kHeaderSize = 8;
constexpr int kMaxSamples = 16;    // samples per pixel the reader takes     // byte order, 42, first IFD offset
constexpr int kEntrySize = 12;     // tag, type, count, value field
constexpr int kMagic = 42;
constexpr int kBigMagic = 43;      // BigTIFF
constexpr int kBigEntrySize = 20;  // BigTIFF: tag, type, 8-byte count, 8-byte value field
constexpr std::uint8_t kIntelMark = 'I';
constexpr std::uint8_t kMotorolaMark = 'M';

// Tags the reader looks at and the writer writes.
constexpr std::uint16_t kTagNewSubfileType = 254;
constexpr std::uint16_t kTagImageWidth = 256;
constexpr std::uint16_t kTagImageLength = 257;
constexpr std::uint16_t kTagBitsPerSample = 258;
constexpr std::uint16_t kTagCompression = 259;
constexpr std::uint16_t kTagPhotometric = 262;
constexpr std::uint16_t kTagFillOrder = 266;
constexpr std::uint16_t kTagStripOffsets = 273;
constexpr std::uint16_t kTagSamplesPerPixel = 277;
constexpr std::uint16_t kTagRowsPerStrip = 278;
constexpr std::uint16_t kTagStripByteCounts = 279;
constexpr std::uint16_t kTagXResolution = 282;
constexpr std::uint16_t kTagYResolution = 283;
constexpr std::uint16_t kTagPlanarConfiguration = 284;
constexpr std::uint16_t kTagResolutionUnit = 296;
constexpr std::uint16_t kTagPredictor = 317;
constexpr std::uint16_t kTagColorMap = 320;
constexpr std::uint16_t kTagExtraSamples = 338;
constexpr std::uint16_t kTagSampleFormat = 339;
constexpr std::uint16_t kTagT4Options = 292;
constexpr std::uint16_t kTagTileWidth = 322;
constexpr std::uint16_t kTagTileLength = 323;
constexpr std::uint16_t kTagTileOffsets = 324;
constexpr std::uint16_t kTagTileByteCounts = 325;
constexpr std::uint16_t kTagInkSet = 332;
constexpr std::uint16_t kTagJPEGTables = 347;
constexpr std::uint16_t kTagJPEGInterchangeFormat = 513;
constexpr std::uint16_t kTagJPEGInterchangeFormatLength = 514;
constexpr std::uint16_t kTagYCbCrSubSampling = 530;

// Field types.
constexpr std::uint16_t kTypeByte = 1;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeRational = 5;
constexpr std::uint16_t kTypeUndefined = 7;
constexpr std::uint16_t kTypeIfd = 13;
constexpr std::uint16_t kTypeLong8 = 16;
constexpr std::uint16_t kTypeIfd8 = 18;

// Compression schemes.
constexpr int kCompressionNone = 1;
constexpr int kCompressionCCITT1D = 2;
constexpr int kCompressionGroup3 = 3;
constexpr int kCompressionGroup4 = 4;
constexpr int kCompressionLZW = 5;
constexpr int kCompressionJPEG = 6;
constexpr int kCompressionNewJPEG = 7;
constexpr int kCompressionDeflate = 8;
constexpr int kCompressionDeflateOld = 32946;
constexpr int kCompressionPackBits = 32773;

// Photometric interpretations.
constexpr int kPhotometricWhiteIsZero = 0;
constexpr int kPhotometricBlackIsZero = 1;
constexpr int kPhotometricRGB = 2;
constexpr int kPhotometricPalette = 3;
constexpr int kPhotometricCMYK = 5;
constexpr int kPhotometricYCbCr = 6;

// FillOrder: lowest bit first.
constexpr int kFillOrderReversed = 2;

// Predictor: horizontal differencing.
constexpr int kPredictorNone = 1;
constexpr int kPredictorHorizontal = 2;
constexpr int kPredictorFloat = 3;

// SampleFormat.
constexpr int kSampleUnsigned = 1;
constexpr int kSampleSigned = 2;
constexpr int kSampleFloat = 3;

// ExtraSamples: the meaning of the sample after the colour samples.
constexpr int kExtraAssociatedAlpha = 1;
constexpr int kExtraUnassociatedAlpha = 2;

// PackBits packets hold at most 128 bytes.
constexpr int kPackBitsMaxPacket = 128;

// Encodes one row of n bytes as PackBits; no packet crosses the row. runs must
// hold n values (work memory), out at least 2 * n bytes (no packet is more than
// twice as long as the bytes it stands for). Returns the number of bytes written.
std::size_t PackBitsEncodeRow(const std::uint8_t* row, std::size_t n, std::int32_t* runs, std::uint8_t* out);

}  // namespace rastova::tiff
