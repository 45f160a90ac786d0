// Strip decoders of the TIFF reader beyond the baseline: LZW and Deflate, the
// horizontal predictor and bit-reversed fill order. Each decoder hands out the
// strip's bytes piece by piece, so the reader never holds more than one row of
// decoded data whatever the strip claims to hold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace rastova::tiff {

// Decoded bytes of one compressed strip, in pieces of the caller's choosing.
class TStripDecoder {
public:
    virtual ~TStripDecoder() = default;
    // Fills out with up to count bytes; fewer only when the strip's data ends.
    // A malformed strip raises EPGTIFFileFormatReader.
    virtual std::size_t Read(std::uint8_t* out, std::size_t count) = 0;
};

// TIFF's LZW: codes of 9 to 12 bits, highest bit first, ClearCode 256,
// EndOfInformation 257, the code width growing one code early. Data that
// begins with a zero byte and then an odd one (a ClearCode written lowest bit
// first) is the older variant early writers produced: lowest bit first, the
// width growing on time. The table never grows past 4096 entries; codes that
// name no entry are an error.
class TLzwDecoder : public TStripDecoder {
public:
    TLzwDecoder(const std::uint8_t* data, std::size_t size);
    std::size_t Read(std::uint8_t* out, std::size_t count) override;

private:
    static constexpr int kTableSize = 4096;
    static constexpr int kClearCode = 256;
    static constexpr int kEndCode = 257;
    static constexpr int kFirstCode = 258;

    // Writes the string of code backwards so that it ends just before end.
    void Expand(int code, std::uint8_t* end) const;
    std::size_t TakePending(std::uint8_t* out, std::size_t count);
    void AddEntry(int code, int previous, int& next, int& width, int growth);
    void Emit(int code, std::uint8_t* out, std::size_t count, std::size_t& done);
    template <bool OldStyle>
    std::size_t Decode(std::uint8_t* out, std::size_t count);

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
    std::uint64_t m_bits = 0;  // unread bits, the next one highest
    int m_bitCount = 0;
    int m_width = 9;
    int m_next = kFirstCode;
    int m_previous = -1;
    bool m_ended = false;
    bool m_oldStyle = false;
    // Entries from kFirstCode on are written before any code can name them, so
    // the tables are not cleared: a strip costs no 28 KB of zeros.
    std::array<std::uint16_t, kTableSize> m_prefix;
    std::array<std::uint16_t, kTableSize> m_length;
    std::array<std::uint8_t, kTableSize> m_first;
    std::array<std::uint8_t, kTableSize> m_last;
    // The part of a string that did not fit the caller's buffer.
    std::array<std::uint8_t, kTableSize> m_pending;
    std::size_t m_pendingStart = 0;
    std::size_t m_pendingEnd = 0;
};

// zlib-wrapped Deflate (Compression 8 and 32946).
class TInflateDecoder : public TStripDecoder {
public:
    TInflateDecoder(const std::uint8_t* data, std::size_t size);
    ~TInflateDecoder() override;
    TInflateDecoder(const TInflateDecoder&) = delete;
    TInflateDecoder& operator=(const TInflateDecoder&) = delete;
    std::size_t Read(std::uint8_t* out, std::size_t count) override;

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

// Undoes horizontal differencing (Predictor 2) on one row of pixels of
// samplesPerPixel samples each, 8 or 16 bits (16-bit samples in the file's
// byte order).
void UndoHorizontalPredictor(std::uint8_t* row, std::size_t pixels, int samplesPerPixel, int bitsPerSample,
                             bool motorola);

// The same for 8-bit RGB rows, written to out as blue, green, red in one pass.
void UndoHorizontalPredictorToBgr(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t pixels);

// FillOrder 2: the lowest bit of each byte comes first.
void ReverseBits(std::uint8_t* bytes, std::size_t count);

}  // namespace rastova::tiff
