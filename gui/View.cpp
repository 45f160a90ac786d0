#include "gui/View.h"

#include "job/ConversionJob.h"
#include "formats/Register.h"
#include "image/FileFormats.h"
#include "view/PGImage.h"

#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace rastova {

namespace {

constexpr int kViewerWidth = 521;
constexpr int kViewerHeight = 420;
constexpr long double kZoomStep = 1.25L;
constexpr long double kMinZoom = 1.0L / 64;
constexpr long double kMaxZoom = 32.0L;

}  // namespace

std::string KbText(std::uintmax_t bytes)
{
    const auto tenths = static_cast<std::uintmax_t>(std::nearbyint(double(bytes) * 10.0 / 1024.0));
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0)
        text += "." + std::to_string(tenths % 10);
    return text;
}

std::string FileInfoText(const TFileInfo& info)
{
    return "File info: " + info.FormatDescription + ", " + info.SubFormatText + ", " + std::to_string(info.Width) +
           "x" + std::to_string(info.Height) + " pixeles" + ", colors: " + info.ColorsText;
}

std::string MetafileInfoText(bool enhanced, int width, int height)
{
    return std::string("File info: ") + (enhanced ? "Enhanced Metafile" : "Windows Metafile") + ", " +
           std::to_string(width) + "x" + std::to_string(height) + " pixeles" + ", colors: 256";
}

std::string FileSizeText(const std::string& fileName)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(fileName, error);
    if (error)
        return std::string();
    return ", File size: " + KbText(size) + " Kb";
}

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("View");
    setModal(true);
    auto* panel1 = new QFrame(this);
    panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pgImage1 = new TPGImage(panel1);
    m_pgImage1->SetBorderKind(bkNone);
    m_pgImage1->SetCenter(true);
    m_pgImage1->SetStretch(sShrinkKAR);
    m_pgImage1->SetZoomFactor(1.0L);
    m_pgImage1->SetPicBoxColor(palette().color(QPalette::Button));
    m_pgImage1->SetPixelGraphic(std::make_unique<TPixelGraphic>());
    m_pgImage1->setAccessibleName("Picture");
    auto* panelLayout = new QVBoxLayout(panel1);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    panelLayout->addWidget(m_pgImage1);

    m_sBar1 = new QStatusBar(this);
    m_status = new QLabel(m_sBar1);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setAccessibleName("File information");
    m_sBar1->addWidget(m_status, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panel1, 1);
    layout->addWidget(m_sBar1);
    resize(kViewerWidth, kViewerHeight);
}

TForm4::~TForm4() = default;

void TForm4::ShowFile(const QString& fileName)
{
    LoadAndDescribe(fileName);
    if (const QScreen* screen = (parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen())) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    m_pgImage1->setFocus();
    exec();
    // A big picture's memory goes with the window, not at the next picture.
    m_pgImage1->SetPixelGraphic(std::make_unique<TPixelGraphic>());
}

void TForm4::LoadAndDescribe(const QString& fileName)
{
    m_fileName = fileName;
    setWindowTitle("View - " + fileName);
    m_status->clear();
    m_status->setText(QString::fromStdString(Describe(fileName.toStdString())));
    // Screen readers read the line itself, not only what it is.
    m_status->setAccessibleDescription(m_status->text().trimmed());
}

std::string TForm4::Describe(const std::string& fileName)
{
    const std::string extension = "." + ExtractExtensionLower(fileName);
    if (extension == ".wmf" || extension == ".emf")
        return DescribeMetafile(fileName, extension);
    // A file that cannot be loaded leaves the line empty and the picture as it was.
    try {
        m_pgImage1->LoadImageFile(fileName, 0);
    } catch (const std::exception&) {
        return std::string();
    }
    TFileInfo info;
    const std::string text = GetFileInfo(fileName, 0, info) ? FileInfoText(info) : " The subformat is not supported!   ";
    return text + FileSizeText(fileName);
}

std::string TForm4::DescribeMetafile(const std::string& fileName, const std::string& extension)
{
    if (!m_metafiles)
        return std::string();
    try {
        m_metafiles->LoadFromFile(fileName);
        const int width = m_metafiles->Width(), height = m_metafiles->Height();
        TPixelGraphic scratch;
        scratch.SetSize(width, height, bc24);
        // The picture starts one pixel in: the top row and left column stay the background.
        m_metafiles->Draw(scratch, 1, 1);
        if (!m_pgImage1->PixelGraphic())
            m_pgImage1->SetPixelGraphic(std::make_unique<TPixelGraphic>());
        TPixelGraphic* shown = m_pgImage1->PixelGraphic();
        shown->SetSize(width, height, bc8);
        shown->SetPaletteIdent(pSpecial252);
        shown->CopyFrom(scratch);
        shown->Changed();
        return MetafileInfoText(extension == ".emf", width, height) + FileSizeText(fileName);
    } catch (const std::exception&) {
        return std::string();
    }
}

QString TForm4::StatusText() const
{
    return m_status->text();
}

void TForm4::Zoom(long double factor)
{
    // Zooming starts from the size the picture is shown at, fitted or not.
    const long double from = m_pgImage1->Stretch() == sZoomKAR ? m_pgImage1->ZoomFactor() : m_pgImage1->EffectiveZoom();
    const long double zoom = std::clamp(from * factor, kMinZoom, kMaxZoom);
    m_pgImage1->SetStretch(sZoomKAR);
    m_pgImage1->SetZoomFactor(zoom);
}

void TForm4::Fit()
{
    m_pgImage1->SetStretch(sShrinkKAR);
    m_pgImage1->SetZoomFactor(1.0L);
}

void TForm4::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: close(); return;
    case Qt::Key_Plus:
    case Qt::Key_Equal: Zoom(kZoomStep); return;
    case Qt::Key_Minus: Zoom(1 / kZoomStep); return;
    case Qt::Key_0:
    case Qt::Key_Asterisk: Fit(); return;
    case Qt::Key_PageDown:
    case Qt::Key_PageUp:
        if (m_neighbour) {
            const QString next = m_neighbour(m_fileName, event->key() == Qt::Key_PageDown ? 1 : -1);
            if (!next.isEmpty())
                LoadAndDescribe(next);
        }
        return;
    default: QDialog::keyPressEvent(event);
    }
}

}  // namespace rastova
