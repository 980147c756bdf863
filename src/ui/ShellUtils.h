// Asking the desktop to open a file or an address with its associated program.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

namespace vantrel {

// Opens Target (a file path or an address) with the desktop's handler. The
// answer is not looked at: a file without a handler simply does not open.
void ShellOpen(const QString& Target);

// The command that plays File: the desktop's program for its type, or
// failing that another one that says it plays it, but never this program
// itself (which may be set as the handler of MPEG files). Nothing when no
// such program is set up. Looks where the freedesktop.org rules say: the
// mimeapps.list files and the applications folders of the XDG directories.
std::optional<QStringList> PlayerCommand(const QString& File);
// Starts the player of File; false when there is none.
bool PlayFile(const QString& File);
// Whether the desktop has a program that shows a web page (the manual):
// one for HTML in its settings, or a browser the desktop's "open" falls
// back on.
bool CanShowPage(const QString& File);
// Shows the file selected in the desktop's file manager (its
// org.freedesktop.FileManager1 service), or when there is no such service,
// opens the folder that holds it. Unshown is called, later, when neither
// could be done: nothing on the desktop shows folders.
void ShowInFileManager(const QString& File, std::function<void()> Unshown);

// Tells the desktop that something finished while the user looked
// elsewhere: a notification, and the window's taskbar entry asks for
// attention. Without a notification service only the latter happens.
void NotifyDesktop(QWidget& Window, const QString& Summary, const QString& Body);

// The manual: beside the program in the build tree, in the documentation
// folder once installed.
QString ManualFile();

// Tests replace the desktop with a recorder, so nothing real is started;
// Opens says whether that desktop has a program for what it is handed. An
// empty handler gives the desktop back.
void SetShellOpenHandler(std::function<void(const QString&)> Handler, bool Opens = true);

} // namespace vantrel
