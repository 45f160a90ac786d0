// The library's message table: every error text and label, in five languages,
// looked up by key. Placeholders %S1..%S3 are filled by FormatMessage1/2/3.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace rastova {

enum TPGMessageKey : std::uint8_t {
    kMsgNone = 0,
    kMsgXYIndexOutOfRange = 1,
    kMsgNoPalette = 2,
    kMsgInvalidPaletteIndex = 3,
    kMsgUnknownClipboardFormat = 4,
    kMsgInvalidTemporaryFile = 5,
    kMsgUnknownFileFormat = 6,
    kMsgInvalid = 7,                  // "%S1 invalid"
    kMsgBlackAndWhite = 8,            // names of the colour resolution codes 0..7
    kMsg2Colors = 9,
    kMsg16ShadesOfGray = 10,
    kMsg16SystemColors = 11,
    kMsg16Colors = 12,
    kMsg256ShadesOfGray = 13,
    kMsg256Colors = 14,
    kMsgTrueColors = 15,
    kMsgIsEmpty = 16,                 // "%S1 is empty"
    kMsgSaveColorResWarning = 17,
    kMsgCannotWriteColorRes = 18,
    kMsgUnknownExtension = 19,
    kMsgInvalidValueFor = 20,         // "Invalid value for %S1"
    kMsgNegativeHeight = 21,
    kMsgNegativeWidth = 22,
    kMsgFilterSourceIsTarget = 23,
    kMsgBit = 24,
    kMsgImageFiles = 25,
    kMsgAllFiles = 26,
    kMsgInvalidSizeOf = 27,           // "Invalid size of %S1"
    kMsgWarning = 28,
    kMsgOperationAborted = 29,
    kMsgNotSupportedSubformat = 30,
    kMsgFailed = 31,                  // "%S1 failed"
    kMsgUnexpectedEndOfFile = 32,
    kMsgUnknownSubformat = 33,
    kMsgNotAFile = 34,                // "Not a %S1 file"
    kMsgWidthOrHeightZero = 35,
    kMsgInvalidColorResolution = 36,
    kMsgUnsupportedFieldType = 37,    // "Unsupported field type %S1"
    kMsgInvalidRowByteCount = 38,     // "Invalid count of bytes in row %S1"
    kMsgUnsupportedCompression = 39,
    kMsgSaturationZeroHueDefined = 40,
    kMsgOutOfRange = 41,              // "%S1 out of range"
    kMsgOK = 42,
    kMsgCancel = 43,
    // 44..83: labels of image filters and their controls.
    kMsgPlusMinus = 82,
    kMsgDegree = 83,
    kMsgLast = 84,
};

constexpr int kMessageCount = 85;
constexpr int kLanguageCount = 6;

struct TPGLangStrEntry {
    std::uint8_t Key;
    // nullptr: the column has no text (reads as the empty string). UTF-8.
    std::array<const char*, kLanguageCount> Texts;
};

extern const std::array<TPGLangStrEntry, kMessageCount> PGLangStrEntries;

// 0 English, 1 German, 2 French, 3 Dutch, 4 Spanish, 5 the sixth column.
extern std::uint8_t LanguageIndex;

// Text is left unchanged when LanguageIndex is above 5.
void GetMessage(std::uint8_t key, std::string& text);
void FormatMessage1(std::uint8_t key, const std::string& s1, std::string& text);
void FormatMessage2(std::uint8_t key, const std::string& s1, const std::string& s2, std::string& text);
void FormatMessage3(std::uint8_t key, const std::string& s1, const std::string& s2,
                    const std::string& s3, std::string& text);

// Returning forms for building exception texts.
std::string MessageText(std::uint8_t key);
std::string MessageText(std::uint8_t key, const std::string& s1);
std::string MessageText(std::uint8_t key, const std::string& s1, const std::string& s2);
std::string MessageText(std::uint8_t key, const std::string& s1, const std::string& s2,
                        const std::string& s3);

// Raises EPixelGraphic "PGLangStrEntries order wrong <i> and <key> are not identical"
// on the first entry whose key is not its position.
void CheckMessageOrder(const TPGLangStrEntry* entries, int count);

}  // namespace rastova
