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
#include <QCheckBox>
#include <QColorDialog>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace rastova {

namespace {

constexpr int kClientWidth = 662;
constexpr int kClientHeight = 454;
// The option panels below the four radio groups need this much more to show without scrolling.
constexpr int kOptionsHeight = 170;

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
    connect(m_buttons, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit ItemIndexChanged(id);
    });
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
    : QMainWindow(parent), m_iniFileName(iniFileName), m_host(*this, m_model)
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
    ReportOptionEdits();

    ResizeWithinScreen(QSize(kClientWidth, kClientHeight + kOptionsHeight + menuBar()->sizeHint().height()));

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
    m_selectionText = new QLabel(m_gb2);
    m_selectionText->setAccessibleName("Selection");
    connect(m_shellList, &TShellList::Changed, this, &TForm1::ShowSelectionText);
    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(Caption("File extension:", m_filterCombo, m_gb2));
    filterRow->addWidget(m_filterCombo, 1);
    auto* layout = new QVBoxLayout(m_gb2);
    layout->addLayout(folderRow);
    layout->addWidget(m_shellList, 1);
    layout->addWidget(m_selectionText);
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
    m_keepMetadata = new QCheckBox("Keep metadata", m_gb1);
    m_keepMetadata->setToolTip("Keep EXIF, XMP, IPTC, comments and colour profiles; "
                               "off strips them and converts profiled pictures to sRGB");
    m_keepMetadata->setChecked(true);
    // 16 and 256 colours from the best palette instead of the system colours and the median cut.
    m_bestPalette = new QCheckBox("Best palette", m_gb1);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(Caption("Path:  ", m_edit1, m_gb1));
    pathRow->addWidget(m_edit1, 1);
    pathRow->addWidget(m_button3);
    // The option panels scroll when the window is too small for them (large scale factors).
    auto* scroll = new QScrollArea(m_gb1);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* panels = new QWidget(scroll);
    auto* options = new QGridLayout(panels);
    options->setContentsMargins(0, 0, 0, 0);
    options->addWidget(m_rg4, 0, 0);
    auto* colors = new QVBoxLayout;
    colors->addWidget(m_rg3);
    colors->addWidget(m_bestPalette);
    options->addLayout(colors, 0, 1);
    options->addWidget(m_rg1, 1, 0);
    options->addWidget(m_rg2, 1, 1);
    options->addWidget(CreateBatchGroup(panels), 2, 0, 1, 2);
    options->addWidget(m_keepMetadata, 3, 0, 1, 2);
    options->setRowStretch(4, 1);
    scroll->setWidget(panels);
    // As wide as the panels, so only the height scrolls, unless the screen is too
    // narrow for that beside the file side (large scale factors): then both ways.
    const int wanted = panels->minimumSizeHint().width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().width() - m_gb2->minimumSizeHint().width() - 60 : wanted;
    scroll->setMinimumWidth(std::clamp(room, 120, wanted));
    if (room < wanted)
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* layout = new QVBoxLayout(m_gb1);
    layout->addLayout(pathRow);
    layout->addWidget(scroll, 1);
    // Files dropped here from elsewhere convert; drops on the list copy or move.
    m_gb1->setAcceptDrops(true);
    m_gb1->installEventFilter(this);
    return m_gb1;
}

QWidget* TForm1::CreateBatchGroup(QWidget* parent)
{
    auto* group = new QGroupBox(" Options ", parent);
    group->setAccessibleName("Options");
    const auto check = [group](const QString& caption) {
        auto* box = new QCheckBox(caption, group);
        box->setAccessibleName(caption);
        return box;
    };
    const auto pixels = [group](const QString& caption) {
        auto* spin = new QSpinBox(group);
        spin->setRange(1, 65535);
        spin->setSuffix(" px");
        spin->setAccessibleName(caption);
        return spin;
    };
    m_fitWithin = check("Fit within");
    m_fitWidth = pixels("Width");
    m_fitHeight = pixels("Height");
    m_autoRotate = check("Auto-rotate");
    m_subfolders = check("Include subfolders");
    m_existing = new TRadioGroup(" Existing files ", {"Overwrite", "Skip", "Rename"}, 3, group);
    m_background = new QPushButton("Background…", group);
    m_background->setAccessibleName("Background…");
    m_noBackground = new QToolButton(group);
    m_noBackground->setText("×");
    m_noBackground->setToolTip("No background: the picture's own");
    m_noBackground->setAccessibleName("No background");
    connect(m_background, &QPushButton::clicked, this, &TForm1::ChooseBackground);
    connect(m_noBackground, &QToolButton::clicked, this, [this] {
        m_model.Options.Background.clear();
        ShowBackground();
    });

    auto* fitRow = new QHBoxLayout;
    fitRow->addWidget(m_fitWithin);
    fitRow->addWidget(Caption("Width", m_fitWidth, group));
    fitRow->addWidget(m_fitWidth);
    fitRow->addWidget(Caption("Height", m_fitHeight, group));
    fitRow->addWidget(m_fitHeight);
    fitRow->addStretch();
    auto* checkRow = new QHBoxLayout;
    checkRow->addWidget(m_autoRotate);
    checkRow->addWidget(m_subfolders);
    checkRow->addStretch();
    checkRow->addWidget(m_background);
    checkRow->addWidget(m_noBackground);
    auto* layout = new QVBoxLayout(group);
    layout->addLayout(CreatePresetRow(group));
    layout->addLayout(fitRow);
    layout->addLayout(checkRow);
    layout->addWidget(m_existing);
    return group;
}

QLayout* TForm1::CreatePresetRow(QWidget* parent)
{
    m_preset = new QComboBox(parent);
    m_preset->setAccessibleName("Preset");
    m_preset->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_preset->setMinimumContentsLength(10);
    m_savePreset = new QPushButton("Save…", parent);
    m_savePreset->setAccessibleName("Save…");
    m_deletePreset = new QPushButton("Delete", parent);
    m_deletePreset->setAccessibleName("Delete");
    connect(m_preset, &QComboBox::activated, this, &TForm1::ChoosePreset);
    connect(m_savePreset, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const QString name = QInputDialog::getText(this, "Save preset", "Name:", QLineEdit::Normal,
                                                   m_preset->currentText(), &ok).trimmed();
        if (ok && !name.isEmpty())
            SavePresetAs(name);
    });
    connect(m_deletePreset, &QPushButton::clicked, this, &TForm1::DeleteCurrentPreset);
    auto* row = new QHBoxLayout;
    row->addWidget(Caption("Preset:", m_preset, parent));
    row->addWidget(m_preset, 1);
    row->addWidget(m_savePreset);
    row->addWidget(m_deletePreset);
    ListPresets({});
    return row;
}

void TForm1::ListPresets(const QString& current)
{
    const QSignalBlocker blocker(m_preset);
    m_preset->clear();
    m_preset->addItem(QString());  // none chosen
    m_preset->addItems(PresetNames(m_iniFileName));
    m_preset->setCurrentIndex(std::max(0, m_preset->findText(current)));
    m_deletePreset->setEnabled(m_preset->currentIndex() > 0);
}

void TForm1::ChoosePreset(int index)
{
    m_deletePreset->setEnabled(index > 0);
    if (index <= 0)
        return;
    if (const std::optional<TWindowOptions> options = PresetOptions(m_iniFileName, m_preset->itemText(index), m_model.Options)) {
        m_model.Options = *options;
        ShowOptions();
    }
}

void TForm1::SavePresetAs(const QString& name)
{
    SavePreset(m_iniFileName, name, m_model.Options);
    ListPresets(name);
}

void TForm1::DeleteCurrentPreset()
{
    if (m_preset->currentIndex() <= 0)
        return;
    DeletePreset(m_iniFileName, m_preset->currentText());
    ListPresets({});
}

void TForm1::ShowSelectionText()
{
    int selected = 0;
    const int count = m_shellList->ItemCount();
    for (int i = 0; i < count; ++i)
        selected += m_shellList->ItemSelected(i) ? 1 : 0;
    m_selectionText->setText(QString("%1 of %2 selected").arg(selected).arg(count));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_gb1 || (event->type() != QEvent::DragEnter && event->type() != QEvent::Drop))
        return QMainWindow::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    QStringList paths;
    for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (paths.isEmpty() || !m_gb1->isEnabled())
        return false;
    drop->acceptProposedAction();
    if (event->type() == QEvent::Drop)
        // After the drop has returned to the file manager, so it does not wait for the question.
        QMetaObject::invokeMethod(this, [this, paths] { ConvertDropped(paths); }, Qt::QueuedConnection);
    return true;
}

void TForm1::ConvertDropped(const QStringList& paths)
{
    if (m_model.StartAction() != TStartAction::Plan)
        return;
    const QString text = paths.size() == 1 ? QString("Convert 1 dropped file?")
                                           : QString("Convert %1 dropped files?").arg(paths.size());
    if (!m_host.Confirm(text.toStdString()))
        return;
    std::vector<std::string> items;
    for (const QString& path : paths)
        items.push_back(path.toStdString());
    m_host.StartWith(items, QFileInfo(paths.front()).absolutePath());
}

void TForm1::ChooseBackground()
{
    const QColor initial(m_model.Options.Background.isEmpty() ? QString("#ffffff") : m_model.Options.Background);
    const QColor chosen = QColorDialog::getColor(initial, this, "Background");
    if (!chosen.isValid())
        return;
    m_model.Options.Background = chosen.name();
    ShowBackground();
}

void TForm1::ShowBackground()
{
    const QString& background = m_model.Options.Background;
    QPixmap swatch(12, 12);
    swatch.fill(background.isEmpty() ? Qt::transparent : QColor(background));
    m_background->setIcon(background.isEmpty() ? QIcon() : QIcon(swatch));
    m_background->setToolTip(background.isEmpty() ? "Behind transparent pixels: the picture's own background"
                                                  : "Behind transparent pixels: " + background);
    m_noBackground->setEnabled(!background.isEmpty());
}

void TForm1::ResizeWithinScreen(const QSize& wanted)
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QSize available = screen ? screen->availableGeometry().size() : wanted;
    resize(wanted.expandedTo(minimumSizeHint()).boundedTo(available));
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
    for (TRadioGroup* group : {m_rg4, m_rg3, m_rg1, m_rg2}) {
        for (QRadioButton* button : group->findChildren<QRadioButton*>())
            order << button;
        if (group == m_rg3)
            order << m_bestPalette;
    }
    order << m_keepMetadata << m_preset << m_savePreset << m_deletePreset << m_fitWithin << m_fitWidth << m_fitHeight
          << m_autoRotate << m_subfolders << m_background << m_noBackground;
    for (QRadioButton* button : m_existing->findChildren<QRadioButton*>())
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
    if (m_form2) {
        m_form2->TrBar1()->setValue(m_model.Options.JpegQuality);
        connect(m_form2->TrBar1(), &QSlider::valueChanged, this,
                [this](int value) { m_model.Options.JpegQuality = value; });
    }
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
    m_shellList->SetFolder(m_settings.OpenPath);
    m_shellCombo->SetFolder(m_shellList->Folder());

    const QSignalBlocker blocker(m_filterCombo);
    m_filterCombo->clear();
    for (const auto& [description, mask] : ParseFileFilterString(FileFilterString()))
        m_filterCombo->addItem(description, mask);
    const int extIndex = m_settings.ExtIndex >= 0 && m_settings.ExtIndex < m_filterCombo->count() ? m_settings.ExtIndex : 0;
    m_filterCombo->setCurrentIndex(extIndex);
    FilterComboBox1Change(extIndex);

    const bool details = m_settings.ViewStyle == TShellList::vsDetails;
    m_speedButtons[details ? 3 : 2]->setChecked(true);
    m_shellList->SetViewStyle(details ? TShellList::vsDetails : TShellList::vsList);
    m_model.Options = OptionsFromSettings(m_settings);
    m_model.Jobs = m_settings.Jobs;
    ShowOptions();
}

void TForm1::ShowOptions()
{
    const TWindowOptions options = m_model.Options;  // each widget reports back as it is set
    m_edit1->setText(options.Destination);
    m_rg4->SetItemIndex(options.TargetFormat);
    m_rg3->SetItemIndex(options.ColorResolution);
    m_rg1->SetItemIndex(options.Mirror);
    m_rg2->SetItemIndex(options.Rotate);
    if (m_form2)
        m_form2->TrBar1()->setValue(options.JpegQuality);
    m_fitWithin->setChecked(options.FitWithin);
    m_fitWidth->setValue(options.FitWidth);
    m_fitHeight->setValue(options.FitHeight);
    m_fitWidth->setEnabled(options.FitWithin);
    m_fitHeight->setEnabled(options.FitWithin);
    m_autoRotate->setChecked(options.AutoRotate);
    m_subfolders->setChecked(options.IncludeSubfolders);
    m_existing->SetItemIndex(options.Existing);
    m_keepMetadata->setChecked(options.KeepMetadata);
    m_bestPalette->setChecked(options.BestPalette);
    m_model.Options = options;
    ShowBackground();
}

void TForm1::ReportOptionEdits()
{
    TWindowOptions& options = m_model.Options;
    connect(m_edit1, &QLineEdit::textChanged, this, [&options](const QString& text) { options.Destination = text; });
    connect(m_rg4, &TRadioGroup::ItemIndexChanged, this, [&options](int i) { options.TargetFormat = TTargetFormat(i); });
    connect(m_rg3, &TRadioGroup::ItemIndexChanged, this,
            [&options](int i) { options.ColorResolution = TJobColorResolution(i); });
    connect(m_rg1, &TRadioGroup::ItemIndexChanged, this, [&options](int i) { options.Mirror = TJobMirror(i); });
    connect(m_rg2, &TRadioGroup::ItemIndexChanged, this, [&options](int i) { options.Rotate = TJobRotate(i); });
    connect(m_fitWithin, &QCheckBox::toggled, this, [this, &options](bool on) {
        options.FitWithin = on;
        m_fitWidth->setEnabled(on);
        m_fitHeight->setEnabled(on);
    });
    connect(m_fitWidth, &QSpinBox::valueChanged, this, [&options](int value) { options.FitWidth = value; });
    connect(m_fitHeight, &QSpinBox::valueChanged, this, [&options](int value) { options.FitHeight = value; });
    connect(m_autoRotate, &QCheckBox::toggled, this, [&options](bool on) { options.AutoRotate = on; });
    connect(m_subfolders, &QCheckBox::toggled, this, [&options](bool on) { options.IncludeSubfolders = on; });
    connect(m_existing, &TRadioGroup::ItemIndexChanged, this,
            [&options](int i) { options.Existing = TExistingPolicy(i); });
    connect(m_keepMetadata, &QCheckBox::toggled, this, [&options](bool on) { options.KeepMetadata = on; });
    connect(m_bestPalette, &QCheckBox::toggled, this, [&options](bool on) { options.BestPalette = on; });
}

void TForm1::ShowRunState(qint64 elapsedMs)
{
    for (QWidget* control : {static_cast<QWidget*>(m_gb1), static_cast<QWidget*>(m_gb2),
                             static_cast<QWidget*>(m_button1)})
        control->setEnabled(m_model.OptionsEnabled());
    if (m_model.Busy())
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
    m_button2->setText(m_model.StopCaption());
    m_pBar1->setValue(m_model.Position());
    m_pBar1->setFormat(m_model.ProgressFormat(elapsedMs));
}

void TForm1::StoreSettings()
{
    m_settings.ExtIndex = m_filterCombo->currentIndex();
    m_settings.OpenPath = m_shellCombo->Folder();
    m_settings.Left = x();
    m_settings.Top = y();
    m_settings.Width = width();
    m_settings.Height = height();
    m_settings.ViewStyle = m_shellList->ViewStyle();
    StoreOptions(m_model.Options, m_settings);
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
    if (m_model.CloseAction() == TCloseAction::Close)
        close();
    else
        m_host.AskToStop();
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
    if (m_model.CloseAction() == TCloseAction::AskToStop) {
        event->ignore();
        m_host.AskToStop();
        return;
    }
    StoreSettings();
    event->accept();
}

}  // namespace rastova
