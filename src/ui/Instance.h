// One window a user and display: a second start hands its files to the
// running window (a file manager's "Open with" while it runs) over a local
// socket, instead of opening a second window on top.
//
// The socket lives where only the user can make names, and both ends ask
// the system who is at the other end: names go to no other user's window,
// and no other user's start hands names in.
#pragma once

#include "io/SysUtils.h"

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

class QLocalSocket;

namespace vantrel {

// The folder of the user's sockets: $XDG_RUNTIME_DIR when it is a folder of
// the user's that nobody else may enter; else "vantrel-UID" in the
// temporary folder, made so. Empty when that name is anything else (a link,
// another user's folder, a folder others may enter): no hand-over then.
QString InstanceFolder();

// The socket of the user's window on this display, in Folder: one for each
// X display (":0" and ":0.0" are one) and Wayland socket. Empty with no folder.
QString InstanceName(const QString& Folder = InstanceFolder());

// What a start hands over: its working folder, then each name as it was
// given, each ended by a NUL (the one byte no name can hold), then an empty
// name. Names are bytes, as the system has them.
QByteArray HandOverMessage(const QByteArray& Folder, const QList<QByteArray>& Names);
// The names of a message, made absolute against its folder; a name that is
// not UTF-8 as DecodeFileName has it.
QStringList HandedOverNames(const QByteArray& Message);

// Gives Message to the window listening at Name and returns true once it
// took it; false when none runs, or when the socket or what answers on it
// is not the user's own.
bool SendToRunningInstance(const QString& Name, const QByteArray& Message);

// Held by a start from its attempt to hand over until it listens, so that
// starts at the same moment find the first one's window instead of each
// opening its own.
class TInstanceLock
{
public:
    explicit TInstanceLock(const QString& Name);

private:
    TFileHandle m_File;
};

// Listens for later starts while it lives; each start's names go to
// OnFiles (an empty list from a start without files). A message is bounded
// in size and time, a client that exceeds either is dropped, as are clients
// beyond a few at once, and the server listens again should it ever stop.
// A name that another live window holds is left to it.
class TInstanceServer
{
public:
    TInstanceServer(const QString& Name, std::function<void(const QStringList&)> OnFiles);
    ~TInstanceServer();
    TInstanceServer(const TInstanceServer&) = delete;
    TInstanceServer& operator=(const TInstanceServer&) = delete;
    bool Listening() const { return m_Server.isListening(); }

    // Above what a command line can hold (the kernel allows at most 6 MiB).
    static constexpr qint64 MaxMessage = 8 << 20;
    // Starts take turns (TInstanceLock): more than a few at once is not one.
    static constexpr int MaxClients = 4;
    static constexpr int ClientMs = 5000;

private:
    void Listen();
    void Accept();
    void Read(QLocalSocket* Socket);
    void Drop(QLocalSocket* Socket);

    QString m_Name;
    QLocalServer m_Server;
    std::function<void(const QStringList&)> m_OnFiles;
    std::map<QLocalSocket*, QByteArray> m_Messages; // of the clients connected
};

} // namespace vantrel
