#include "gui/MainWindow.h"

#include "gui/About.h"
#include "gui/Dialogs.h"
#include "gui/FileFilters.h"
#include "gui/JQuality.h"
#include "gui/ShellControls.h"
#include "gui/View.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace rastova {

namespace {

constexpr int kClientWidth = 662;
constexpr int kClientHeight = 454;

QToolButton* NewSpeedButton(QStyle::StandardPixmap glyph, const QString& hint, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(parent->style()->standardIcon(glyph));
    button->setAutoRaise(true);
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

// Screen readers and desktop automation read captions without the padding blanks.
QString AccessibleCaption(const QString& caption)
{
    QString name = caption.trimmed();
    if (name.endsWith(':'))
        name.chop(1);
    return name;
}

}  // namespace

// ---- TRadioGroup -----------------------------------------------------------------------

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), m_buttons(new QButtonGroup(this))
{
    setAccessibleName(AccessibleCaption(caption));
    auto* layout = new QGridLayout(this);
    const int rows = (int(items.size()) + columns - 1) / columns;
    for (int i = 0; i < int(items.size()); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setAccessibleName(items[i]);
        m_buttons->addButton(button, i);
        layout->addWidget(button, i % rows, i / rows);
    }
    SetItemIndex(0);
}

int TRadioGroup::ItemIndex() const
{
    return m_buttons->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (QAbstractButton* button = m_buttons->button(index))
        button->setChecked(true);
}

int TRadioGroup::Count() const
{
    return int(m_buttons->buttons().size());
}

// ---- TForm1 ----------------------------------------------------------------------------

TForm1::TForm1(const QString& iniFileName, QWidget* parent)
    : QMainWindow(parent), m_iniFileName(iniFileName), m_host(*this)
{
    InstallComboBoxAccessibleNames();
    setWindowTitle(QString("Rastova v") + kProgramVersion);
    auto* central = new QWidget(this);
    auto* groups = new QHBoxLayout;
    groups->addWidget(CreateSourceGroup(), 3);
    groups->addWidget(CreateTargetGroup(), 2);

    m_pBar1 = new QProgressBar(central);
    m_pBar1->setRange(0, 100);
    m_pBar1->setValue(0);
    m_pBar1->setAccessibleName("Progress");
    m_button1 = new QPushButton("Start", central);
    m_button2 = new QPushButton("Close", central);
    connect(m_button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    // Start from anywhere in the window without leaving the file list.
    auto* startKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this);
    connect(startKey, &QShortcut::activated, this, [this] {
        if (m_button1->isEnabled())
            Button1Click();
    });
    m_button1->setToolTip("Convert the selected files (Ctrl+Enter)");

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pBar1, 1);
    bottom->addWidget(m_button1);
    bottom->addWidget(m_button2);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(groups, 1);
    layout->addLayout(bottom);
    setCentralWidget(central);
    CreateMenu();
    SetTabOrder();

    resize(QSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height()).expandedTo(minimumSizeHint()));

    // Missing keys keep what the window has now: the default place and size.
    m_settings.Left = x();
    m_settings.Top = y();
    if (!ReadSettings(m_iniFileName, m_settings))
        ApplyReadFailure(m_settings);
    ApplySettings();
    m_shellList->setFocus();
}

TForm1::~TForm1()
{
    m_host.Shutdown();
}

QWidget* TForm1::CreateSourceGroup()
{
    m_gb2 = new QGroupBox(" Conversion from: ", this);
    m_gb2->setAccessibleName(AccessibleCaption(m_gb2->title()));
    m_shellCombo = new TShellCombo(m_gb2);
    m_shellCombo->setAccessibleName("Folder");
    m_speedButtons[0] = NewSpeedButton(QStyle::SP_FileDialogToParent, "Go Up", m_gb2);
    m_speedButtons[1] = NewSpeedButton(QStyle::SP_FileDialogNewFolder, "New Folder", m_gb2);
    m_speedButtons[2] = NewSpeedButton(QStyle::SP_FileDialogListView, "List", m_gb2);
    m_speedButtons[3] = NewSpeedButton(QStyle::SP_FileDialogDetailedView, "Details", m_gb2);
    auto* viewStyles = new QButtonGroup(m_gb2);
    for (QToolButton* toggle : {m_speedButtons[2], m_speedButtons[3]}) {
        toggle->setCheckable(true);
        viewStyles->addButton(toggle);
    }
    m_speedButtons[2]->setChecked(true);

    m_shellList = new TShellList(m_gb2);
    m_shellList->setAccessibleName("Files");
    for (QAbstractItemView* view : m_shellList->findChildren<QAbstractItemView*>())
        view->setAccessibleName("Files");
    m_filterCombo = new QComboBox(m_gb2);
    m_filterCombo->setAccessibleName("File extension");

    connect(m_shellCombo, &TShellCombo::FolderChosen, m_shellList, &TShellList::SetFolder);
    connect(m_shellList, &TShellList::FolderChanged, m_shellCombo, &TShellCombo::SetFolder);
    connect(m_speedButtons[0], &QToolButton::clicked, m_shellCombo, &TShellCombo::GoUp);
    connect(m_speedButtons[1], &QToolButton::clicked, m_shellList, [this] { m_shellList->CreateNewFolder(); });
    connect(m_speedButtons[2], &QToolButton::clicked, this, [this] {
        m_shellList->SetViewStyle(TShellList::vsList);
    });
    connect(m_speedButtons[3], &QToolButton::clicked, this, [this] {
        m_shellList->SetViewStyle(TShellList::vsDetails);
    });
    connect(m_shellList, &TShellList::OpenRequested, this, &TForm1::ShowViewer);
    connect(m_filterCombo, &QComboBox::currentIndexChanged, this, &TForm1::FilterComboBox1Change);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(Caption("Folder:     ", m_shellCombo, m_gb2));
    folderRow->addWidget(m_shellCombo, 1);
    for (QToolButton* button : m_speedButtons)
        folderRow->addWidget(button);
    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(Caption("File extension:", m_filterCombo, m_gb2));
    filterRow->addWidget(m_filterCombo, 1);
    auto* layout = new QVBoxLayout(m_gb2);
    layout->addLayout(folderRow);
    layout->addWidget(m_shellList, 1);
    layout->addLayout(filterRow);
    return m_gb2;
}

QWidget* TForm1::CreateTargetGroup()
{
    m_gb1 = new QGroupBox(" Conversion to: ", this);
    m_gb1->setAccessibleName(AccessibleCaption(m_gb1->title()));
    m_edit1 = new QLineEdit(m_gb1);
    m_edit1->setAccessibleName("Path");
    m_button3 = new QPushButton("Browse..", m_gb1);
    connect(m_button3, &QPushButton::clicked, this, &TForm1::Button3Click);

    m_rg4 = new TRadioGroup(" File extension ",
                            {"BMP", "JPG", "PBM", "PGM", "PNG", "PPM", "TGA", "TIF", "WEBP", "AVIF", "HEIC", "JXL"}, 3,
                            m_gb1);
    m_rg3 = new TRadioGroup(" Color resolution ",
                            {"2 colors", "16 colors", "256 colors", "Gray (8 bit)", "True color (24 bit)"}, 1, m_gb1);
    m_rg1 = new TRadioGroup(" Mirror ", {"None", "Vertical", "Horizontal"}, 1, m_gb1);
    m_rg2 = new TRadioGroup(" Rotate ", {"None", "180 degrees", "Left (90 degrees)", "Right (90 degrees)"}, 1, m_gb1);
    m_rg3->SetItemIndex(jcrTrueColor);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(Caption("Path:  ", m_edit1, m_gb1));
    pathRow->addWidget(m_edit1, 1);
    pathRow->addWidget(m_button3);
    auto* options = new QGridLayout;
    options->addWidget(m_rg4, 0, 0);
    options->addWidget(m_rg3, 0, 1);
    options->addWidget(m_rg1, 1, 0);
    options->addWidget(m_rg2, 1, 1);
    auto* layout = new QVBoxLayout(m_gb1);
    layout->addLayout(pathRow);
    layout->addLayout(options);
    layout->addStretch();
    return m_gb1;
}

void TForm1::CreateMenu()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction("E&xit", this, &TForm1::Button2Click);
    menuBar()->addAction("&About...", this, &TForm1::About1Click);
}

void TForm1::SetTabOrder()
{
    QList<QWidget*> order = {m_shellCombo};
    for (QToolButton* button : m_speedButtons)
        order << button;
    // Both file views, so whichever is shown follows the toggles.
    for (QAbstractItemView* view : m_shellList->findChildren<QAbstractItemView*>())
        order << view;
    order << m_filterCombo << m_edit1 << m_button3;
    for (TRadioGroup* group : {m_rg4, m_rg3, m_rg1, m_rg2})
        for (QRadioButton* button : group->findChildren<QRadioButton*>())
            order << button;
    order << m_button1 << m_button2;
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void TForm1::SetDialogs(TForm2* jpegQuality, TForm3* about, TForm4* viewer)
{
    m_form2 = jpegQuality;
    m_form3 = about;
    m_form4 = viewer;
    if (m_form4)
        m_form4->SetNeighbour(
            [this](const QString& fileName, int step) { return m_shellList->NeighbourFile(fileName, step); });
    if (m_form2)
        m_form2->TrBar1()->setValue(m_settings.JpegQuality);
}

void TForm1::ApplySettings()
{
    if (m_settings.Width && m_settings.Height)
        resize(QSize(*m_settings.Width, *m_settings.Height).expandedTo(minimumSizeHint()));
    // A stored place on a screen that is no longer there would hide the window.
    if (m_settings.Left && m_settings.Top) {
        const QPoint place(*m_settings.Left, *m_settings.Top);
        for (const QScreen* screen : QGuiApplication::screens())
            if (screen->availableGeometry().contains(place))
                move(place);
    }
    m_button2->setText("Close");
    m_edit1->setText(m_settings.SavePath);
    m_shellList->SetFolder(m_settings.OpenPath);
    m_shellCombo->SetFolder(m_shellList->Folder());

    const QSignalBlocker blocker(m_filterCombo);
    m_filterCombo->clear();
    for (const auto& [description, mask] : ParseFileFilterString(FileFilterString()))
        m_filterCombo->addItem(description, mask);
    const int extIndex = m_settings.ExtIndex >= 0 && m_settings.ExtIndex < m_filterCombo->count() ? m_settings.ExtIndex : 0;
    m_filterCombo->setCurrentIndex(extIndex);
    FilterComboBox1Change(extIndex);

    m_rg4->SetItemIndex(m_settings.TargetFormat);
    m_rg3->SetItemIndex(m_settings.ColorResolution);
    m_rg1->SetItemIndex(m_settings.Mirror);
    m_rg2->SetItemIndex(m_settings.Rotate);
    m_host.Jobs = m_settings.Jobs;
}

void TForm1::StoreSettings()
{
    m_settings.ExtIndex = m_filterCombo->currentIndex();
    m_settings.OpenPath = m_shellCombo->Folder();
    m_settings.SavePath = m_edit1->text();
    m_settings.Left = x();
    m_settings.Top = y();
    m_settings.Width = width();
    m_settings.Height = height();
    m_settings.TargetFormat = TTargetFormat(m_rg4->ItemIndex());
    m_settings.ColorResolution = TJobColorResolution(m_rg3->ItemIndex());
    m_settings.Mirror = TJobMirror(m_rg1->ItemIndex());
    m_settings.Rotate = TJobRotate(m_rg2->ItemIndex());
    if (m_form2)
        m_settings.JpegQuality = m_form2->TrBar1()->value();
    WriteSettings(m_iniFileName, m_settings);
}

void TForm1::FilterComboBox1Change(int index)
{
    if (index >= 0)
        m_shellList->SetFileMask(m_filterCombo->itemData(index).toString());
}

void TForm1::Button1Click()
{
    m_host.Start();
}

void TForm1::Button2Click()
{
    if (!m_host.Running) {
        close();
        return;
    }
    if (m_host.Confirm("The conversion will be interrupted."))
        m_host.StopRequested = true;
}

void TForm1::Button3Click()
{
    const QString folder = QFileDialog::getExistingDirectory(this, "Destination folder", m_edit1->text().trimmed());
    if (!folder.isEmpty())
        m_edit1->setText(folder);
}

void TForm1::About1Click()
{
    if (!m_form3)
        return;
    m_form3->adjustSize();
    m_form3->move(x() + width() / 2 - m_form3->width() / 2, y() + height() / 2 - m_form3->height() / 2);
    m_form3->exec();
}

void TForm1::ShowViewer(const QString& fileName)
{
    m_viewFileName = fileName;
    if (m_form4)
        m_form4->ShowFile(fileName);
}

bool TForm1::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && m_aboutPending) {
        m_aboutPending = false;
        // After the activation has been handled, so the box opens over a drawn window.
        QMetaObject::invokeMethod(this, &TForm1::About1Click, Qt::QueuedConnection);
    }
    return QMainWindow::event(event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Closing while a run goes on would pull the window from under the job:
    // ask to stop instead, as the Close button does.
    if (m_host.Running) {
        event->ignore();
        Button2Click();
        return;
    }
    StoreSettings();
    event->accept();
}

}  // namespace rastova
