#include "ui/Instance.h"

#include <QGuiApplication>
#include <QLocalSocket>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr int WaitMs = 2000;

// A start's message: its file names, one a line, then an empty line.
QByteArray Message(const QStringList& Files)
{
    QByteArray Bytes;
    for (const QString& File : Files)
        Bytes += File.toUtf8() + '\n';
    return Bytes + '\n';
}

} // namespace

QString InstanceName()
{
    const QString Display = qEnvironmentVariable("WAYLAND_DISPLAY", qEnvironmentVariable("DISPLAY"));
    return QString("vantrel-%1-%2").arg(::getuid()).arg(QString(Display).replace('/', '_'));
}

bool SendToRunningInstance(const QString& Name, const QStringList& Files)
{
    QLocalSocket Socket;
    Socket.connectToServer(Name);
    if (!Socket.waitForConnected(WaitMs))
        return false;
    Socket.write(Message(Files));
    if (!Socket.waitForBytesWritten(WaitMs))
        return false;
    // The running window answers once it has the names.
    return Socket.waitForReadyRead(WaitMs) && Socket.readAll().startsWith("ok");
}

TInstanceServer::TInstanceServer(const QString& Name, std::function<void(const QStringList&)> OnFiles)
    : m_OnFiles(std::move(OnFiles))
{
    // Only this user may hand files over.
    m_Server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_Server.listen(Name)) {
        // A socket left by a window that was killed: nobody answers on it.
        QLocalServer::removeServer(Name);
        m_Server.listen(Name);
    }
    QObject::connect(&m_Server, &QLocalServer::newConnection, [this] {
        while (QLocalSocket* Socket = m_Server.nextPendingConnection()) {
            QObject::connect(Socket, &QLocalSocket::disconnected, Socket, &QObject::deleteLater);
            QObject::connect(Socket, &QLocalSocket::readyRead, Socket, [this, Socket] {
                if (!Socket->peek(1 << 20).contains("\n\n") && !Socket->peek(1).startsWith('\n'))
                    return; // the rest is still coming
                const QList<QByteArray> Lines = Socket->readAll().split('\n');
                QStringList Files;
                for (const QByteArray& Line : Lines)
                    if (!Line.isEmpty())
                        Files << QString::fromUtf8(Line);
                Socket->write("ok\n");
                Socket->flush();
                m_OnFiles(Files);
            });
        }
    });
}

} // namespace vantrel
