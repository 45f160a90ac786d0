#include "app/View.h"

#include "image/FileFormats.h"

#include <QKeyEvent>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>
#include <system_error>

namespace rastova {

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
    m_sBar1 = new QStatusBar(this);
    m_sBar1->setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_sBar1);
    resize(521, 420);
}

TForm4::~TForm4() = default;

void TForm4::ShowFile(const QString& fileName)
{
    LoadAndDescribe(fileName);
    exec();
}

void TForm4::LoadAndDescribe(const QString& fileName)
{
    setWindowTitle("View - " + fileName);
    m_sBar1->clearMessage();
}

QString TForm4::StatusText() const
{
    return m_sBar1->currentMessage();
}

void TForm4::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace rastova
