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
#include <shared_mutex>
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
    bool HasAlpha = false;  // pixels of the image carry transparency (it loads 32-bit)
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
    // True colour goes out with its alpha; other writers get a 32-bit image
    // laid over its background first.
    bool CanWriteAlpha = false;

    bool CanWrite(int code) const { return (CanWriteResolutions & ResolutionBit(code)) != 0; }
    virtual void Write(TStream& stream, TPixelGraphic& graphic);
    virtual void WriteHeader(TStream& stream);
    virtual void WriteImage(TStream& stream, TPixelGraphic& graphic);
    virtual void WriteTrailer(TStream& stream);
};

// ---- registry ----------------------------------------------------------------------

// A list of readers and one of writers, each kept sorted by lower-cased
// extension. Registration takes the lock; lookups may run on any number of
// threads, also while another registers. Registered objects are not changed
// afterwards: readers and writers keep no state between calls.
// The core registers nothing itself; the formats library builds the
// registry of the built-in formats (formats/Register.h).
class TFormatRegistry {
public:
    TFormatRegistry();
    ~TFormatRegistry();
    TFormatRegistry(const TFormatRegistry&) = delete;
    TFormatRegistry& operator=(const TFormatRegistry&) = delete;

    void RegisterReader(std::unique_ptr<TFileFormatReader> reader);
    void RegisterWriter(std::unique_ptr<TFileFormatWriter> writer);

    // The lists themselves, for listing; not to be held across a registration.
    const std::vector<std::unique_ptr<TFileFormatReader>>& Readers() const;
    const std::vector<std::unique_ptr<TFileFormatWriter>>& Writers() const;

    // Content first (readers with a signature), then extension (readers without).
    // Any failure while looking yields nullptr. The stream position is restored.
    TFileFormatReader* SelectReader(TStream& stream, const std::string& ext) const;
    // The writer for an extension (with or without the dot, any case); nullptr when none.
    TFileFormatWriter* FindWriter(const std::string& ext) const;
    bool HasWriters() const;
    // Never raises; false when no reader knows the stream or describing it fails.
    bool GetFileInfoFromStream(TStream& stream, const std::string& ext, int imageIndex, TFileInfo& info) const;

private:
    mutable std::shared_mutex m_mutex;
    std::vector<std::unique_ptr<TFileFormatReader>> m_readers;
    std::vector<std::unique_ptr<TFileFormatWriter>> m_writers;
};

// Opens an update bracket on an image and closes it however the scope ends.
class TUpdateBracket {
public:
    explicit TUpdateBracket(TPixelGraphic& graphic) : m_graphic(graphic) { m_graphic.BeginUpdate(); }
    ~TUpdateBracket() { m_graphic.EndUpdate(); }
    TUpdateBracket(const TUpdateBracket&) = delete;
    TUpdateBracket& operator=(const TUpdateBracket&) = delete;

private:
    TPixelGraphic& m_graphic;
};

// Lower-cased extension without the dot ("" when the name has none).
std::string ExtractExtensionLower(const std::string& fileName);

// Saves like TPixelGraphic::SaveToFile, but never replaces a file: the image
// goes to the first of candidate(0), candidate(1), ... that is free at the
// moment it is placed, and that name is returned. When candidate gives "" before
// a free name turns up, nothing is written and "" is returned.
std::string SaveToNewFile(TPixelGraphic& graphic, const std::function<std::string(int)>& candidate,
                          const TPGSettings& settings, const TFormatRegistry& formats);

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

// A recoverable problem of a file being read into graphic: its ReadWarningAction
// decides whether the reader goes on or raises TException with the same text.
template <class TException>
void ReadWarning(const TPixelGraphic& graphic, const std::string& text, const std::string& caption)
{
    if (!WarningAllowsContinue(graphic.ReadWarningAction(), text, caption))
        throw TException(text);
}

}  // namespace rastova
