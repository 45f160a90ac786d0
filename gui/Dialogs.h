// Message boxes of the application's windows, all through one replaceable
// function so that tests can read and answer them.
#pragma once

#include "gui/WindowModel.h"

#include <QMessageBox>
#include <QString>

#include <functional>

namespace rastova {

// The application title, used as the caption of its message boxes.
inline const char* const kApplicationTitle = "Rastova";

using TMessageBoxFunction = std::function<QMessageBox::StandardButton(
    QWidget* parent, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons)>;

// Installs the function behind ShowMessage; an empty function restores the real boxes.
void SetMessageBoxFunction(TMessageBoxFunction function);
QMessageBox::StandardButton ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Closes the message boxes open over parent as if Esc was pressed: for a
// question that no longer has an object.
void CloseMessageBoxes(QWidget* parent);

// A message with a list of lines below it (the files a run could not convert),
// scrollable and with a Copy button. Through the message-box function when one
// is installed, the list then following the text line by line.
void ShowFailureList(QWidget* parent, const QString& text, const QStringList& lines);

// The end of a run: its message, the counts, the destination with "Open
// folder" (the file manager) and "OK", and the failures in short with a Copy
// button for the full lines. Through the message-box function when one is
// installed, as ShowFailureList (or ShowMessage without failures) puts it.
void ShowEndBox(QWidget* parent, const TEndReport& report);

// Routes the image library's warnings to message boxes; safe to call from any thread
// (a worker waits for the answer given on the GUI thread).
void InstallLibraryQuestions();

}  // namespace rastova
