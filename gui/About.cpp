#include "gui/About.h"

#include "gui/Dialogs.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace rastova {

namespace {

constexpr int kClientWidth = 351;
constexpr int kClientHeight = 223;
constexpr int kTitlePixelHeight = 53;

QLabel* FontLabel(const QString& text, const QString& family, bool bold, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font(family);
    font.setBold(bold);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLabel* LinkLabel(const QString& text, QWidget* parent)
{
    QLabel* label = FontLabel(text, "Arial", false, parent);
    label->setMouseTracking(true);
    label->setCursor(Qt::PointingHandCursor);
    // Reachable from the keyboard too: Enter or Space opens the address.
    label->setFocusPolicy(Qt::StrongFocus);
    label->setAccessibleName(text);
    return label;
}

void SetTextColor(QLabel* label, const QColor& color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

}  // namespace

TForm3::TForm3(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_launcher([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    setWindowTitle("About");
    setModal(true);
    setMouseTracking(true);

    QLabel* label1 = FontLabel("Rastova  ", "Comic Sans MS", true, this);
    QFont titleFont = label1->font();
    titleFont.setItalic(true);
    titleFont.setPixelSize(kTitlePixelHeight);
    label1->setFont(titleFont);
    SetTextColor(label1, QColor(0, 128, 0));

    QLabel* version = FontLabel(QString("Version ") + kProgramVersion, "Arial", false, this);
    QLabel* label3 = FontLabel("2026 The Rastova developers", "Arial", true, this);
    m_label4 = LinkLabel(QString("Home page: ") + kHomePage, this);
    m_label5 = LinkLabel(QString("E-mail: ") + kSupportMail, this);
    m_label4->installEventFilter(this);
    m_label5->installEventFilter(this);

    m_button1 = new QPushButton("OK", this);
    m_button1->setDefault(true);
    connect(m_button1, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label1);
    layout->addWidget(version);
    layout->addWidget(label3);
    layout->addSpacing(8);
    layout->addWidget(m_label4);
    layout->addWidget(m_label5);
    layout->addStretch();
    layout->addWidget(m_button1, 0, Qt::AlignHCenter);
    setFixedSize(layout->sizeHint().expandedTo(QSize(kClientWidth, kClientHeight)));
    SetLinkColors(false, false);
}

void TForm3::SetLinkColors(bool homePageHot, bool mailHot)
{
    SetTextColor(m_label4, homePageHot ? Qt::blue : Qt::black);
    SetTextColor(m_label5, mailHot ? Qt::blue : Qt::black);
}

void TForm3::Label4Click()
{
    if (!m_launcher(QUrl(kHomePage)))
        ShowMessage(this, QMessageBox::Critical,
                    "Unable to start web browser. Make sure you have properly\nsetup Internet access on your system.");
}

void TForm3::Label5Click()
{
    if (!m_launcher(QUrl(QString("mailto:") + kSupportMail)))
        ShowMessage(this, QMessageBox::Critical,
                    "Unable to start mail program. Make sure you have properly\nsetup Internet access on your system.");
}

bool TForm3::eventFilter(QObject* watched, QEvent* event)
{
    const bool homePage = watched == m_label4;
    if (!homePage && watched != m_label5)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: SetLinkColors(homePage, !homePage); break;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            homePage ? Label4Click() : Label5Click();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            homePage ? Label4Click() : Label5Click();
            return true;
        }
        break;
    }
    default: break;
    }
    return QDialog::eventFilter(watched, event);
}

void TForm3::showEvent(QShowEvent* event)
{
    SetLinkColors(false, false);
    m_button1->setFocus();
    QDialog::showEvent(event);
}

void TForm3::mouseMoveEvent(QMouseEvent* event)
{
    SetLinkColors(false, false);
    QDialog::mouseMoveEvent(event);
}

void TForm3::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace rastova
