// Folder browsing for the main window: a folder combo of the current folder and
// its ancestors, and a file list with list and details views, both over the
// file system.
#pragma once

#include <QComboBox>
#include <QWidget>

class QAbstractItemView;
class QFileSystemModel;
class QItemSelectionModel;
class QListView;
class QMenu;
class QModelIndex;
class QStackedWidget;
class QTreeView;

namespace rastova {

class TShellList : public QWidget {
    Q_OBJECT
public:
    enum TViewStyle { vsList, vsDetails };

    explicit TShellList(QWidget* parent = nullptr);

    QString Folder() const { return m_folder; }
    void SetFolder(const QString& path);
    // Semicolon-separated wildcard patterns, matched without regard to case.
    void SetFileMask(const QString& mask);
    void SetViewStyle(TViewStyle style);
    TViewStyle ViewStyle() const { return m_style; }

    // Items in list order.
    int ItemCount() const;
    QString ItemPath(int index) const;
    bool ItemSelected(int index) const;
    bool ItemFocused(int index) const;
    QStringList SelectedPaths() const;
    // The file a double-click opens: the focused item, or the one under the
    // mouse when none has the focus.
    QString PathToOpen(const QModelIndex& underMouse) const;
    // The file step places after path in list order, folders left out; empty
    // when there is none.
    QString NeighbourFile(const QString& path, int step) const;

    // Creates "New Folder" (or "New Folder (2)", ...) in the current folder and
    // starts renaming it in place; returns its path, empty on failure.
    QString CreateNewFolder();
    void Refresh();
    // Moves to the parent folder, with the folder left as the current item.
    void GoUp();

    QAbstractItemView* ActiveView() const;
    QFileSystemModel* Model() const { return m_model; }

signals:
    void FolderChanged(const QString& path);
    // A file was double-clicked or Enter was pressed on it.
    void OpenRequested(const QString& path);
    // The selection or the items changed.
    void Changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildModel();
    QModelIndex IndexAt(int index) const;
    void Activate(const QModelIndex& underMouse);
    void ShowContextMenu(QAbstractItemView* view, const QPoint& position);
    void OpenWithDefaultApplication();
    void RenameCurrent();
    void MoveSelectionToTrash();
    void CopySelectedPaths();
    void MakePendingCurrent();

    QFileSystemModel* m_model = nullptr;
    QStackedWidget* m_stack;
    QListView* m_listView;
    QTreeView* m_detailsView;
    QString m_folder;
    QStringList m_nameFilters;
    TViewStyle m_style = vsList;
    QString m_currentAfterLoad;  // made the current item once it is listed
};

// A combo of the current folder and its ancestors; choosing one moves the list there.
class TShellCombo : public QComboBox {
    Q_OBJECT
public:
    explicit TShellCombo(QWidget* parent = nullptr);

    QString Folder() const { return m_folder; }
    void SetFolder(const QString& path);
    // Moves to the parent folder; nothing happens at the top.
    void GoUp();

signals:
    void FolderChosen(const QString& path);

private:
    QString m_folder;
};

// On Linux Qt reports a combo box's current text as its accessible name; screen
// readers and desktop automation then cannot tell the folder combo from the
// filter combo. After this call a combo box with an accessible name of its own
// reports that name, and its text as its value.
void InstallComboBoxAccessibleNames();

}  // namespace rastova
