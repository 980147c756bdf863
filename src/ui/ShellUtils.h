// Asking the desktop to open a file or an address with its associated program.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace vantrel {

// Opens Target (a file path or an address) with the desktop's handler. The
// answer is not looked at: a file without a handler simply does not open.
void ShellOpen(const QString& Target);

// Tells the desktop that something finished while the user looked
// elsewhere: a notification, and the window's taskbar entry asks for
// attention. Without a notification service only the latter happens.
void NotifyDesktop(QWidget& Window, const QString& Summary, const QString& Body);

// The manual: beside the program in the build tree, in the documentation
// folder once installed.
QString ManualFile();

// Tests replace the desktop with a recorder, so nothing real is started.
// An empty handler gives the desktop back.
void SetShellOpenHandler(std::function<void(const QString&)> Handler);

} // namespace vantrel
