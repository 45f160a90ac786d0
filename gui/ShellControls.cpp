#include "gui/ShellControls.h"

#include "gui/Dialogs.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QStackedWidget>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace rastova {

namespace {

// An existing folder to show for a wanted path: the path itself, else its
// nearest existing ancestor, else the home folder.
QString ExistingFolder(const QString& wanted)
{
    if (wanted.trimmed().isEmpty())
        return QDir::homePath();
    QDir dir(QDir::cleanPath(QDir(wanted).absolutePath()));
    while (!dir.exists())
        if (!dir.cdUp())
            return QDir::homePath();
    return dir.absolutePath();
}

void SetUpView(QAbstractItemView* view)
{
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::EditKeyPressed);
    view->setDragEnabled(true);
    view->setAcceptDrops(true);
    view->setDropIndicatorShown(true);
    view->setDragDropMode(QAbstractItemView::DragDrop);
    view->setDefaultDropAction(Qt::CopyAction);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    // The selection stays visible, in the active colours, while another control has the focus.
    QPalette palette = view->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    view->setPalette(palette);
}

}  // namespace

// ---- TShellList ----------------------------------------------------------------------

TShellList::TShellList(QWidget* parent) : QWidget(parent)
{
    m_listView = new QListView(this);
    m_listView->setViewMode(QListView::ListMode);
    m_listView->setFlow(QListView::TopToBottom);
    m_listView->setWrapping(true);
    m_listView->setResizeMode(QListView::Adjust);
    m_detailsView = new QTreeView(this);
    m_detailsView->setRootIsDecorated(false);
    m_detailsView->setItemsExpandable(false);
    m_detailsView->setSortingEnabled(true);
    m_detailsView->sortByColumn(0, Qt::AscendingOrder);

    m_stack = new QStackedWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_listView),
                                    static_cast<QAbstractItemView*>(m_detailsView)}) {
        SetUpView(view);
        view->installEventFilter(this);
        m_stack->addWidget(view);
        connect(view, &QAbstractItemView::doubleClicked, this, &TShellList::Activate);
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& position) { ShowContextMenu(view, position); });
    }
    setFocusProxy(m_listView);
    BuildModel();
}

void TShellList::BuildModel()
{
    QFileSystemModel* oldModel = m_model;
    QItemSelectionModel* oldSelection = m_listView->selectionModel();
    m_model = new QFileSystemModel(this);
    m_model->setReadOnly(false);  // rename in place and drops into the folder
    m_model->setFilter(QDir::AllDirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    m_model->setNameFilterDisables(false);
    m_model->setNameFilters(m_nameFilters);
    m_listView->setModel(m_model);
    m_detailsView->setModel(m_model);
    // One selection for both views, so switching views keeps it.
    QItemSelectionModel* unshared = m_detailsView->selectionModel();
    m_detailsView->setSelectionModel(m_listView->selectionModel());
    delete unshared;
    delete oldSelection;
    delete oldModel;

    connect(m_model, &QFileSystemModel::directoryLoaded, this, [this] {
        MakePendingCurrent();
        m_detailsView->resizeColumnToContents(0);  // the names fit
        emit Changed();
    });
    connect(m_model, &QFileSystemModel::rowsInserted, this, [this] { emit Changed(); });
    connect(m_model, &QFileSystemModel::rowsRemoved, this, [this] { emit Changed(); });
    connect(m_listView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { emit Changed(); });
    if (!m_folder.isEmpty()) {
        const QModelIndex root = m_model->setRootPath(m_folder);
        m_listView->setRootIndex(root);
        m_detailsView->setRootIndex(root);
    }
    m_model->sort(0, Qt::AscendingOrder);
}

void TShellList::SetFolder(const QString& path)
{
    const QString folder = ExistingFolder(path);
    if (folder == m_folder)
        return;
    // Going up, by any way: the folder just left becomes the current item once listed.
    m_currentAfterLoad = !m_folder.isEmpty() && QFileInfo(m_folder).absolutePath() == folder ? m_folder : QString();
    m_folder = folder;
    const QModelIndex root = m_model->setRootPath(folder);
    m_listView->setRootIndex(root);
    m_detailsView->setRootIndex(root);
    m_listView->selectionModel()->clearSelection();
    MakePendingCurrent();
    emit FolderChanged(folder);
    emit Changed();
}

void TShellList::SetFileMask(const QString& mask)
{
    m_nameFilters = QString(mask).split(';', Qt::SkipEmptyParts);
    for (QString& pattern : m_nameFilters)
        pattern = pattern.trimmed();
    m_model->setNameFilters(m_nameFilters);
}

void TShellList::SetViewStyle(TViewStyle style)
{
    const bool hadFocus = ActiveView()->hasFocus();
    m_style = style;
    QAbstractItemView* view = ActiveView();
    m_stack->setCurrentWidget(view);
    setFocusProxy(view);
    if (hadFocus)
        view->setFocus();
}

QAbstractItemView* TShellList::ActiveView() const
{
    return m_style == vsList ? static_cast<QAbstractItemView*>(m_listView) : m_detailsView;
}

QModelIndex TShellList::IndexAt(int index) const
{
    return m_model->index(index, 0, m_listView->rootIndex());
}

int TShellList::ItemCount() const
{
    return m_model->rowCount(m_listView->rootIndex());
}

QString TShellList::ItemPath(int index) const
{
    const QModelIndex item = IndexAt(index);
    return item.isValid() ? m_model->filePath(item) : QString();
}

bool TShellList::ItemSelected(int index) const
{
    const QModelIndex item = IndexAt(index);
    return item.isValid() && m_listView->selectionModel()->isSelected(item);
}

bool TShellList::ItemFocused(int index) const
{
    const QModelIndex item = IndexAt(index);
    return item.isValid() && m_listView->selectionModel()->currentIndex().siblingAtColumn(0) == item;
}

QStringList TShellList::SelectedPaths() const
{
    QStringList paths;
    for (int i = 0, count = ItemCount(); i < count; ++i)
        if (ItemSelected(i))
            paths << ItemPath(i);
    return paths;
}

QString TShellList::PathToOpen(const QModelIndex& underMouse) const
{
    for (int i = 0, count = ItemCount(); i < count; ++i)
        if (ItemFocused(i))
            return ItemPath(i);
    return underMouse.isValid() ? m_model->filePath(underMouse.siblingAtColumn(0)) : QString();
}

QString TShellList::NeighbourFile(const QString& path, int step) const
{
    QStringList files;
    for (int i = 0, count = ItemCount(); i < count; ++i)
        if (!m_model->isDir(IndexAt(i)))
            files << ItemPath(i);
    const qsizetype at = files.indexOf(path);
    const qsizetype wanted = at + step;
    return at >= 0 && wanted >= 0 && wanted < files.size() ? files[wanted] : QString();
}

void TShellList::Activate(const QModelIndex& underMouse)
{
    const QString path = PathToOpen(underMouse);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).isDir())
        SetFolder(path);
    else
        emit OpenRequested(path);
}

QString TShellList::CreateNewFolder()
{
    const QDir folder(m_folder);
    QString name = "New Folder";
    for (int n = 2; folder.exists(name); ++n)
        name = QString("New Folder (%1)").arg(n);
    const QModelIndex created = m_model->mkdir(m_listView->rootIndex(), name);
    if (!created.isValid())
        return QString();
    QAbstractItemView* view = ActiveView();
    view->setCurrentIndex(created);
    view->scrollTo(created);
    view->edit(created);
    return folder.filePath(name);
}

void TShellList::GoUp()
{
    QDir up(m_folder);
    if (!up.cdUp())
        return;
    SetFolder(up.absolutePath());
}

void TShellList::MakePendingCurrent()
{
    if (m_currentAfterLoad.isEmpty())
        return;
    const QModelIndex index = m_model->index(m_currentAfterLoad);
    if (!index.isValid() || index.parent() != m_listView->rootIndex())
        return;
    m_listView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    ActiveView()->scrollTo(index);
    m_currentAfterLoad.clear();
}

void TShellList::Refresh()
{
    BuildModel();
    emit Changed();
}

bool TShellList::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_listView || watched == m_detailsView)) {
        auto* view = static_cast<QAbstractItemView*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !view->indexWidget(view->currentIndex())) {
            Activate(view->currentIndex());
            return true;
        }
        if (key->key() == Qt::Key_Delete) {
            MoveSelectionToTrash();
            return true;
        }
        // Backspace and Alt+Up go up, as in file managers.
        if (key->key() == Qt::Key_Backspace || (key->key() == Qt::Key_Up && key->modifiers() == Qt::AltModifier)) {
            GoUp();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TShellList::ShowContextMenu(QAbstractItemView* view, const QPoint& position)
{
    const QModelIndex item = view->indexAt(position);
    QMenu menu(this);
    if (item.isValid()) {
        if (!view->selectionModel()->isSelected(item))
            view->setCurrentIndex(item);
        const QString path = m_model->filePath(item.siblingAtColumn(0));
        if (!QFileInfo(path).isDir())
            menu.addAction("&View", this, [this, path] { emit OpenRequested(path); });
        menu.addAction("&Open with Default Application", this, &TShellList::OpenWithDefaultApplication);
        menu.addSeparator();
        menu.addAction("Re&name", this, &TShellList::RenameCurrent);
        menu.addAction("Move to &Trash", this, &TShellList::MoveSelectionToTrash);
        menu.addSeparator();
        menu.addAction("&Copy Path", this, &TShellList::CopySelectedPaths);
    } else {
        menu.addAction("New &Folder", this, [this] { CreateNewFolder(); });
        menu.addAction("&Refresh", this, &TShellList::Refresh);
    }
    menu.exec(view->viewport()->mapToGlobal(position));
}

void TShellList::OpenWithDefaultApplication()
{
    for (const QString& path : SelectedPaths())
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            ShowMessage(this, QMessageBox::Warning, "No application could open " + path + ".");
}

void TShellList::RenameCurrent()
{
    QAbstractItemView* view = ActiveView();
    if (view->currentIndex().isValid())
        view->edit(view->currentIndex().siblingAtColumn(0));
}

void TShellList::MoveSelectionToTrash()
{
    const QStringList paths = SelectedPaths();
    if (paths.isEmpty())
        return;
    const QString what = paths.size() == 1 ? "\"" + QFileInfo(paths.front()).fileName() + "\""
                                            : QString("these %1 items").arg(paths.size());
    if (ShowMessage(this, QMessageBox::Question, "Move " + what + " to the Trash?",
                    QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    QStringList failed;
    for (const QString& path : paths)
        if (!QFile::moveToTrash(path))
            failed << path;
    if (!failed.isEmpty())
        ShowMessage(this, QMessageBox::Warning, "Could not move to the Trash:\n" + failed.join('\n'));
}

void TShellList::CopySelectedPaths()
{
    QApplication::clipboard()->setText(SelectedPaths().join('\n'));
}

// ---- TShellCombo ---------------------------------------------------------------------

TShellCombo::TShellCombo(QWidget* parent) : QComboBox(parent)
{
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(16);
    connect(this, &QComboBox::activated, this, [this](int index) {
        const QString path = itemData(index).toString();
        if (path.isEmpty() || path == m_folder)
            return;
        SetFolder(path);
        emit FolderChosen(m_folder);
    });
}

void TShellCombo::SetFolder(const QString& path)
{
    const QString folder = ExistingFolder(path);
    m_folder = folder;
    QStringList chain;
    QDir dir(folder);
    do
        chain.prepend(dir.absolutePath());
    while (dir.cdUp());
    const QSignalBlocker blocker(this);
    clear();
    const QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
    for (const QString& ancestor : chain) {
        addItem(icon, QDir::toNativeSeparators(ancestor), ancestor);
        setItemData(count() - 1, ancestor, Qt::ToolTipRole);
    }
    setCurrentIndex(count() - 1);
}

void TShellCombo::GoUp()
{
    QDir dir(m_folder);
    if (!dir.cdUp())
        return;
    SetFolder(dir.absolutePath());
    emit FolderChosen(m_folder);
}

}  // namespace rastova

namespace rastova {

namespace {

class TNamedComboBoxAccessible : public QAccessibleWidget {
public:
    explicit TNamedComboBoxAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override
    {
        const auto* combo = static_cast<const QComboBox*>(widget());
        switch (kind) {
        case QAccessible::Name: return combo->accessibleName();
        case QAccessible::Value: return combo->currentText();
        default: return QAccessibleWidget::text(kind);
        }
    }
    QStringList actionNames() const override
    {
        return {showMenuAction(), pressAction()};
    }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction() || action == pressAction())
            static_cast<QComboBox*>(widget())->showPopup();
    }
};

QAccessibleInterface* NamedComboBoxFactory(const QString&, QObject* object)
{
    auto* combo = qobject_cast<QComboBox*>(object);
    if (combo && !combo->accessibleName().isEmpty())
        return new TNamedComboBoxAccessible(combo);
    return nullptr;
}

}  // namespace

void InstallComboBoxAccessibleNames()
{
    static const bool installed = [] {
        QAccessible::installFactory(NamedComboBoxFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace rastova
