// Helpers for the window tests: a recorder that answers the application's
// message boxes, and waiting for the file list to load.
#pragma once

#include "gui/Dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>

namespace rastova {
class TShellList;
}

namespace rastova::test {

// Records every message box and answers from a queue of answers; Yes (or OK)
// when the queue is empty. Removes itself when destroyed.
class TMessageRecorder {
public:
    TMessageRecorder();
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    std::deque<QMessageBox::StandardButton> Answers;
    QStringList Texts;
};

// Processes events until the list shows folder with at least count items (or a
// few seconds passed); true when it does.
bool WaitForList(TShellList& list, const QString& folder, int count);

// Processes events until done() holds or seconds pass; returns done().
bool WaitUntil(const std::function<bool()>& done, int seconds = 60);

// Runs action once a modal dialog has opened, from inside its event loop.
void WhenModal(std::function<void()> action);

}  // namespace rastova::test
