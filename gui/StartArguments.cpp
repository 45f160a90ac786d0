#include "gui/StartArguments.h"

#include "gui/ShellControls.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QPointer>

#include <memory>

namespace rastova {

TStartPlace StartPlaceOf(const QStringList& arguments)
{
    TStartPlace place;
    for (const QString& argument : arguments) {
        const QFileInfo info(argument);
        if (!info.exists())
            continue;
        if (info.isDir()) {
            if (place.Folder.isEmpty())
                return {info.absoluteFilePath(), {}};
            continue;
        }
        if (place.Folder.isEmpty())
            place.Folder = info.absolutePath();
        if (info.absolutePath() == place.Folder)
            place.Files << info.absoluteFilePath();
    }
    return place;
}

namespace {

// Selects the files the model shows already; true when every one was found.
bool SelectShownFiles(TShellList& list, const QStringList& files)
{
    QFileSystemModel& model = *list.Model();
    QItemSelectionModel& selection = *list.ActiveView()->selectionModel();
    int found = 0;
    for (const QString& file : files) {
        const QModelIndex item = model.index(file);
        if (!item.isValid() || item.parent() != list.ActiveView()->rootIndex())
            continue;
        selection.select(item, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (found++ == 0)
            selection.setCurrentIndex(item, QItemSelectionModel::NoUpdate);
        list.ActiveView()->scrollTo(item);
    }
    return found == files.size();
}

}  // namespace

void OpenStartPlace(TShellList& list, const TStartPlace& place)
{
    if (place.Folder.isEmpty())
        return;
    list.SetFolder(place.Folder);
    if (place.Files.isEmpty() || SelectShownFiles(list, place.Files))
        return;
    // Selection waits for the folder's rows; one pass once it has loaded.
    auto connection = std::make_shared<QMetaObject::Connection>();
    QPointer<TShellList> guard(&list);
    *connection = QObject::connect(list.Model(), &QFileSystemModel::directoryLoaded, &list,
        [guard, connection, place](const QString& loaded) {
            if (!guard || QDir(loaded) != QDir(place.Folder))
                return;
            QObject::disconnect(*connection);
            SelectShownFiles(*guard, place.Files);
        });
}

}  // namespace rastova
