#include "ui/Instance.h"

#include "ui/FileNames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr int ConnectMs = 2000, AnswerMs = 5000, LockMs = 10000;

// A folder of the user's that nobody else may enter, by its own entry: a
// link is not followed, whatever it leads to.
bool IsPrivateFolder(const QByteArray& Path)
{
    struct stat St
    {
    };
    return ::lstat(Path.constData(), &St) == 0 && S_ISDIR(St.st_mode) && St.st_uid == ::getuid() &&
           (St.st_mode & 077) == 0;
}

// A socket of the user's, by its own entry.
bool IsOwnSocket(const QString& Name)
{
    struct stat St
    {
    };
    return ::lstat(QFile::encodeName(Name).constData(), &St) == 0 && S_ISSOCK(St.st_mode) &&
           St.st_uid == ::getuid();
}

// True when the process at the other end of a connected local socket runs
// as this user, as the system tells it (not as the other end says).
bool PeerIsThisUser(qintptr Descriptor)
{
    ucred Peer{};
    socklen_t Length = sizeof Peer;
    return Descriptor >= 0 &&
           ::getsockopt(static_cast<int>(Descriptor), SOL_SOCKET, SO_PEERCRED, &Peer, &Length) == 0 &&
           Peer.uid == ::getuid();
}

// True when something listens at Name: a window that runs, however busy.
bool SomeoneListens(const QString& Name)
{
    const QByteArray Path = QFile::encodeName(Name);
    sockaddr_un Address{};
    if (static_cast<std::size_t>(Path.size()) >= sizeof Address.sun_path)
        return false;
    Address.sun_family = AF_UNIX;
    std::copy(Path.begin(), Path.end(), Address.sun_path);
    const TFileHandle Socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!Socket.IsOpen())
        return false;
    const int Result = ::connect(Socket.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address);
    // A full queue is a server too.
    return Result == 0 || errno == EAGAIN;
}

// The display a start was made on: the X display without its screen (":0.0"
// and ":0" are one) and the Wayland socket, either of which may be missing.
QString DisplayKey()
{
    QString X = qEnvironmentVariable("DISPLAY");
    if (const qsizetype Colon = X.lastIndexOf(':'), Dot = X.lastIndexOf('.'); Colon >= 0 && Dot > Colon)
        X.truncate(Dot);
    const QString Wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    return QString(Wayland.isEmpty() ? X : Wayland + "-" + X).replace('/', '_');
}

} // namespace

QString InstanceFolder()
{
    const QByteArray Runtime = qgetenv("XDG_RUNTIME_DIR");
    if (Runtime.startsWith('/') && IsPrivateFolder(Runtime))
        return QFile::decodeName(Runtime);
    const QByteArray Own = QFile::encodeName(QDir::tempPath()) + "/vantrel-" + QByteArray::number(::getuid());
    // One that exists already is checked as any other: another user may
    // have made it first.
    ::mkdir(Own.constData(), 0700);
    return IsPrivateFolder(Own) ? QFile::decodeName(Own) : QString();
}

QString InstanceName(const QString& Folder)
{
    return Folder.isEmpty() ? QString() : Folder + "/vantrel-" + DisplayKey();
}

QByteArray HandOverMessage(const QByteArray& Folder, const QList<QByteArray>& Names)
{
    QByteArray Message = Folder + '\0';
    for (const QByteArray& Name : Names)
        if (!Name.isEmpty())
            Message += Name + '\0';
    return Message + '\0';
}

QStringList HandedOverNames(const QByteArray& Message)
{
    const QList<QByteArray> Fields = Message.split('\0');
    QStringList Names;
    for (qsizetype I = 1; I < Fields.size() && !Fields[I].isEmpty(); ++I)
        Names << DecodeFileName(Fields[I].startsWith('/') ? Fields[I] : Fields[0] + '/' + Fields[I]);
    return Names;
}

bool SendToRunningInstance(const QString& Name, const QByteArray& Message)
{
    // Not even a connection to a name that is not the user's own.
    if (Name.isEmpty() || !IsOwnSocket(Name))
        return false;
    QLocalSocket Socket;
    Socket.connectToServer(Name);
    if (!Socket.waitForConnected(ConnectMs) || !PeerIsThisUser(Socket.socketDescriptor()))
        return false;
    Socket.write(Message);
    while (Socket.bytesToWrite() > 0)
        if (!Socket.waitForBytesWritten(AnswerMs))
            return false;
    // The running window answers once it has the names.
    QByteArray Answer;
    while (Answer.size() < 2 && Socket.waitForReadyRead(AnswerMs))
        Answer += Socket.readAll();
    return Answer.startsWith("ok");
}

TInstanceLock::TInstanceLock(const QString& Name)
    : m_File(::open(QFile::encodeName(Name + ".lock").constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                    0600))
{
    // A start that never lets go (stopped in a debugger) holds the others
    // up for a while, not for ever.
    QElapsedTimer Waited;
    Waited.start();
    while (m_File.IsOpen() && ::flock(m_File.Get(), LOCK_EX | LOCK_NB) != 0 && Waited.elapsed() < LockMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TInstanceServer::TInstanceServer(const QString& Name, std::function<void(const QStringList&)> OnFiles)
    : m_Name(Name), m_OnFiles(std::move(OnFiles))
{
    QObject::connect(&m_Server, &QLocalServer::newConnection, [this] { Accept(); });
    Listen();
}

// The clients go with the server, and say so as they go: not to this object,
// which is half gone by then.
TInstanceServer::~TInstanceServer()
{
    for (QLocalSocket* Socket : m_Server.findChildren<QLocalSocket*>())
        QObject::disconnect(Socket, nullptr, nullptr, nullptr);
}

void TInstanceServer::Listen()
{
    if (m_Name.isEmpty())
        return;
    // The folder keeps others out, and the peer check makes sure. (Qt's own
    // access options would bind elsewhere and rename over the name, taking
    // it from a window that still runs.)
    if (m_Server.listen(m_Name) || m_Server.serverError() != QAbstractSocket::AddressInUseError)
        return;
    // What a window that was killed left behind, never a name another live
    // window holds or one that is not the user's.
    struct stat St
    {
    };
    if (SomeoneListens(m_Name) || ::lstat(QFile::encodeName(m_Name).constData(), &St) != 0 ||
        St.st_uid != ::getuid())
        return;
    QLocalServer::removeServer(m_Name);
    m_Server.listen(m_Name);
}

void TInstanceServer::Accept()
{
    while (QLocalSocket* Socket = m_Server.nextPendingConnection()) {
        // Beyond a few at once a client is turned away at once: idle ones
        // must not use up the descriptors the server needs to listen.
        if (m_Messages.size() >= MaxClients || !PeerIsThisUser(Socket->socketDescriptor())) {
            Socket->abort();
            Socket->deleteLater();
            continue;
        }
        m_Messages.emplace(Socket, QByteArray());
        Socket->setReadBufferSize(1 << 16);
        QTimer::singleShot(ClientMs, Socket, [this, Socket] { Drop(Socket); });
        QObject::connect(Socket, &QLocalSocket::disconnected, Socket, [this, Socket] { Drop(Socket); });
        QObject::connect(Socket, &QLocalSocket::readyRead, Socket, [this, Socket] { Read(Socket); });
        Read(Socket); // what came with the connection
    }
    // Qt stops listening when it cannot take a connection (no descriptors left).
    if (!m_Server.isListening())
        Listen();
}

void TInstanceServer::Read(QLocalSocket* Socket)
{
    const auto Client = m_Messages.find(Socket);
    if (Client == m_Messages.end())
        return;
    QByteArray& Message = Client->second;
    Message += Socket->read(MaxMessage + 1 - Message.size());
    if (Message.size() > MaxMessage)
        return Drop(Socket);
    if (!Message.endsWith(QByteArray("\0\0", 2)))
        return; // the rest is still coming
    const QStringList Names = HandedOverNames(Message);
    Socket->write("ok\n");
    Socket->flush();
    Drop(Socket);
    m_OnFiles(Names);
}

void TInstanceServer::Drop(QLocalSocket* Socket)
{
    if (m_Messages.erase(Socket) == 0)
        return;
    Socket->disconnectFromServer();
    Socket->deleteLater();
    if (!m_Server.isListening())
        Listen();
}

} // namespace vantrel
