// The conversion job: for every selected item, load, mirror, rotate, bring to
// the chosen colour resolution and save into the destination folder. It runs
// without a window and talks to its host only through TConversionHost.
#pragma once

#include <cstdint>
#include <string>

namespace rastova {

class TPixelGraphic;

enum TTargetFormat { tfBMP, tfJPG, tfPBM, tfPGM, tfPNG, tfPPM, tfTGA, tfTIF };
enum TJobColorResolution { jcr2Colors, jcr16Colors, jcr256Colors, jcrGray8, jcrTrueColor };
enum TJobMirror { jmNone, jmVertical, jmHorizontal };
enum TJobRotate { jrNone, jr180, jrLeft, jrRight };

// The appended extension of each target format, with the dot.
const char* TargetExtension(int targetFormat);

struct TConversionOptions {
    std::string Destination;  // as typed; the job trims it
    int TargetFormat = tfBMP;
    int ColorResolution = jcrTrueColor;
    int Mirror = jmNone;
    int Rotate = jrNone;
};

// Plays Windows metafiles for the job; a host without a renderer leaves it out,
// and metafile items then fail to load.
class TMetafileHolder {
public:
    virtual ~TMetafileHolder() = default;
    virtual void LoadFromFile(const std::string& fileName) = 0;
    virtual int Width() const = 0;   // pixels
    virtual int Height() const = 0;  // pixels
    // Draws the metafile onto a bc24 bitmap with its top-left corner at (left, top).
    virtual void Draw(TPixelGraphic& bitmap, int left, int top) = 0;
};

enum TJobStep { jsLoad, jsMirror, jsRotate, jsColor, jsSave };

// What became of one item, for hosts that report per file.
struct TFileOutcome {
    int ItemIndex = 0;
    std::string SourcePath;
    std::string OutputPath;
    bool Saved = false;          // the output file was written
    bool Failed = false;         // some step failed (a failed load or save also means not Saved as asked)
    TJobStep FailedStep = jsLoad;
    std::string Message;         // the library's message of the first failure
};

class TConversionHost {
public:
    virtual ~TConversionHost() = default;

    // Run state kept on the host.
    bool Running = false;
    bool StopRequested = false;
    std::int16_t JpegQualityChoice = 0;  // 5..95 after OK, -1 after Cancel

    virtual int ItemCount() = 0;
    virtual bool ItemSelected(int index) = 0;
    virtual std::string ItemPath(int index) = 0;
    virtual TConversionOptions Options() = 0;

    virtual void SetBusy(bool busy) = 0;
    virtual void SetProgress(int position) = 0;
    virtual void SetStopCaption(bool stop) = 0;
    virtual void Pump() = 0;
    virtual void Inform(const std::string& text) = 0;
    virtual bool Confirm(const std::string& text) = 0;
    virtual void FocusDestination() = 0;
    virtual void AskJpegQuality() = 0;
    virtual TMetafileHolder* MetafileHolder() { return nullptr; }
    // Called once per item that was attempted; window hosts may ignore it.
    virtual void FileDone(const TFileOutcome&) {}
};

class TConversionJob {
public:
    explicit TConversionJob(TConversionHost& host) : m_host(host) {}
    void Convert();

private:
    struct TRun;
    bool StartChecks(const TConversionOptions& options, std::string& destination, int& selected);
    void ConvertItem(TRun& run, int index);

    TConversionHost& m_host;
};

// Names of one item: the output path in the destination folder.
std::string OutputPathFor(const std::string& sourcePath, const std::string& destination, int targetFormat);
// Trims blanks and control characters from both ends.
std::string TrimBlanks(const std::string& text);

}  // namespace rastova
