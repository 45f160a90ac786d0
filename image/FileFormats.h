// Reader and writer base classes, the format registry and the host's question
// function through which readers and the save path ask the user.
#pragma once

#include "image/PGTypes.h"
#include "image/PGSettings.h"
#include "image/PGraphic.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rastova {

class TStream;

// The first bytes of a stream. Count tells how many are real; the rest are zero.
struct TSignatureHeader {
    static constexpr int kSize = 17;
    std::array<std::uint8_t, kSize> Bytes{};
    int Count = 0;
    std::uint8_t operator[](int i) const { return Bytes[std::size_t(i)]; }
};

// What a reader tells about a file without decoding its pixels.
struct TFileInfo {
    std::string FormatDescription;
    std::string SubFormatText;
    std::string ExtraText;
    int Width = 0;
    int Height = 0;
    std::string ColorsText;
    int BitsPerPixel = 0;
    int ImageCount = 1;
};

class TFileFormatReaderWriter : public TObject {
public:
    std::string Extension;    // lower case, without dot
    std::string Description;  // shown to users
    // The class name, used in messages such as "<name>.CanWriteResolutions is empty".
    virtual std::string ClassName() const = 0;
};

class TFileFormatReader : public TFileFormatReaderWriter {
public:
    bool HasSignature = false;

    virtual bool CheckSignature(const TSignatureHeader& header);
    virtual void Read(TStream& stream, TPixelGraphic& graphic, int imageIndex);
    // The base resets info to ImageCount 1, zero sizes and empty texts; formats
    // call it first. FormatDescription is left to the caller.
    virtual void GetInfo(TStream& stream, int imageIndex, TFileInfo& info);
};

class TFileFormatWriter : public TFileFormatReaderWriter {
public:
    TColorResolutions CanWriteResolutions = 0;

    bool CanWrite(int code) const { return (CanWriteResolutions & ResolutionBit(code)) != 0; }
    virtual void Write(TStream& stream, TPixelGraphic& graphic);
    virtual void WriteHeader(TStream& stream);
    virtual void WriteImage(TStream& stream, TPixelGraphic& graphic);
    virtual void WriteTrailer(TStream& stream);
};

// ---- library start-up and registry -------------------------------------------------

// Runs once, from whichever thread gets here first: message order check, tables,
// defaults, and the registration of every reader and writer. Every entry point
// that needs the registry calls it; calling it again is cheap.
void PGInitialize();

// Both lists are kept sorted by lower-cased extension.
const std::vector<std::unique_ptr<TFileFormatReader>>& FileFormatReaders();
const std::vector<std::unique_ptr<TFileFormatWriter>>& FileFormatWriters();
// Used by the formats' registration during start-up.
void RegisterFileFormatReader(std::unique_ptr<TFileFormatReader> reader);
void RegisterFileFormatWriter(std::unique_ptr<TFileFormatWriter> writer);
// The writer object used for plain stream saving (SaveToStream, WriteData).
TFileFormatWriter& StreamBmpWriter();

// Content first (readers with a signature), then extension (readers without).
// Any failure while looking yields nullptr. The stream position is restored.
TFileFormatReader* SelectReader(TStream& stream, const std::string& ext);

bool GetFileInfoFromStream(TStream& stream, const std::string& ext, int imageIndex, TFileInfo& info);
bool GetFileInfo(const std::string& fileName, int imageIndex, TFileInfo& info);

// Lower-cased extension without the dot ("" when the name has none).
std::string ExtractExtensionLower(const std::string& fileName);

// ---- questions to the user ----------------------------------------------------------

enum TQuestionButtons { qbOK, qbOKCancel };
enum TQuestionAnswer { qaOK, qaCancel };
using TQuestionFunction =
    std::function<TQuestionAnswer(const std::string& text, const std::string& caption, TQuestionButtons buttons)>;

// The host installs one function for all warnings; without one every answer is OK.
void SetQuestionFunction(TQuestionFunction function);
TQuestionAnswer AskQuestion(const std::string& text, const std::string& caption, TQuestionButtons buttons);

// Applies a warning action to a recoverable problem. Returns true when the caller
// goes on; false when it must raise its own exception (pgwaRaise, or Cancel in
// the OK/Cancel box).
bool WarningAllowsContinue(TPGWarningAction action, const std::string& text, const std::string& caption);

}  // namespace rastova
