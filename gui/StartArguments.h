// What `rastova FILE...` and `rastova FOLDER` ask of the window at start: the
// folder to show and the files to select in it (the desktop entry passes them).
#pragma once

#include <QString>
#include <QStringList>

namespace rastova {

class TShellList;

struct TStartPlace {
    QString Folder;     // empty: the folder of the last session
    QStringList Files;  // absolute paths inside Folder to select
};

// A folder argument gives that folder; otherwise the folder of the first
// existing file, with every file argument that lies in it. Files elsewhere and
// paths that do not exist are left out.
TStartPlace StartPlaceOf(const QStringList& arguments);

// Moves the list to the place and selects its files as soon as the list has
// loaded them (the file system model reads folders in the background).
void OpenStartPlace(TShellList& list, const TStartPlace& place);

}  // namespace rastova
