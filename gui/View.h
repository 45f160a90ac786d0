// The viewer: one image file shown shrunk to fit, with a line of file
// information below it.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QStatusBar;

namespace rastova {

class TMetafileHolder;
class TPGImage;
struct TFileInfo;

// The file size in kilobytes with one decimal, as the status line shows it:
// tenths rounded to the nearest, ties to even, trailing ".0" left out.
std::string KbText(std::uintmax_t bytes);
// "File info: <format>, <subformat>, WxH pixeles, colors: <colors>".
std::string FileInfoText(const TFileInfo& info);
// The text for a metafile of the given size ("Enhanced Metafile" for .emf).
std::string MetafileInfoText(bool enhanced, int width, int height);
// ", File size: <KbText> Kb", or nothing when the size cannot be had.
std::string FileSizeText(const std::string& fileName);

class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    void SetMetafileHolder(TMetafileHolder* holder) { m_metafiles = holder; }
    // Gives the file step places after (or before, for a negative step) a file
    // in the main window's list; empty when there is none. Page Down and Page Up
    // move through the list with it.
    using TNeighbour = std::function<QString(const QString& fileName, int step)>;
    void SetNeighbour(TNeighbour neighbour) { m_neighbour = std::move(neighbour); }
    // Shows fileName modally, centred on the screen.
    void ShowFile(const QString& fileName);
    // Loads and describes the file; what each showing does first.
    void LoadAndDescribe(const QString& fileName);
    QString StatusText() const;
    TPGImage* PGImage1() const { return m_pgImage1; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::string Describe(const std::string& fileName);
    void Zoom(long double factor);
    void Fit();
    std::string DescribeMetafile(const std::string& fileName, const std::string& extension);

    TPGImage* m_pgImage1;
    QStatusBar* m_sBar1;
    QLabel* m_status;
    QString m_fileName;
    TNeighbour m_neighbour;
    TMetafileHolder* m_metafiles = nullptr;
};

}  // namespace rastova
