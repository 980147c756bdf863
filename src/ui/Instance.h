// One window a user: a second start hands its files to the running window
// (a file manager's "Open with" while it runs) over a local socket, instead
// of opening a second window on top.
#pragma once

#include <QLocalServer>
#include <QString>
#include <QStringList>
#include <functional>

namespace vantrel {

// The socket's name: one per user and display.
QString InstanceName();

// Gives Files (absolute names) to the running window and returns true once
// it took them; false when none runs.
bool SendToRunningInstance(const QString& Name, const QStringList& Files);

// Listens for later starts while it lives; each start's files go to OnFiles
// (an empty list from a start without files).
class TInstanceServer
{
public:
    TInstanceServer(const QString& Name, std::function<void(const QStringList&)> OnFiles);
    bool Listening() const { return m_Server.isListening(); }

private:
    QLocalServer m_Server;
    std::function<void(const QStringList&)> m_OnFiles;
};

} // namespace vantrel
