// A second start hands its files to the window already open, and to no
// one else: where the socket lives, what a message may hold, who may talk.
#include "ui/Instance.h"
#include "ui/FileNames.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QTest>
#include <dirent.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace test;

constexpr uid_t Nobody = 65534;

bool SendWhileServing(const QString& Name, const QByteArray& Message)
{
    // The running window answers from its event loop, the new start waits.
    auto Sent = std::async(std::launch::async, [&] { return SendToRunningInstance(Name, Message); });
    while (Sent.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return Sent.get();
}

// Sets an environment variable for the life of the object.
struct TEnvironment
{
    TEnvironment(const char* Name, const QByteArray& Value)
        : Name(Name), Old(qgetenv(Name)), Had(qEnvironmentVariableIsSet(Name))
    {
        qputenv(Name, Value);
    }
    ~TEnvironment()
    {
        if (Had)
            qputenv(Name, Old);
        else
            qunsetenv(Name);
    }
    const char* Name;
    QByteArray Old;
    bool Had;
};

// A raw connection to a socket, as a process that is not Vantrel makes it.
int Connect(const std::string& Name)
{
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    std::copy(Name.begin(), Name.end(), Address.sun_path);
    const int Socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(Socket, reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
        ::close(Socket);
        return -1;
    }
    return Socket;
}

TEST(Instance, ASecondStartHandsItsFilesOver)
{
    const TTempDir Dir;
    const QString Name = QString::fromStdString(Dir.File("vantrel-test"));
    EXPECT_FALSE(SendToRunningInstance(Name, HandOverMessage("/", {"a.mpg"}))); // nothing runs yet
    std::vector<QStringList> Received;
    {
        const TInstanceServer Server(Name, [&](const QStringList& Files) { Received.push_back(Files); });
        ASSERT_TRUE(Server.Listening());
        // A newline is part of a name; bytes that are not UTF-8 stay what
        // they are; a relative name is taken from where the start was made.
        EXPECT_TRUE(SendWhileServing(
            Name,
            HandOverMessage("/clips", {"/clips/a b.mpg", "/clips/new\nline.mpg", "bad\xff.mpg", "ä.mpg"})));
        EXPECT_TRUE(
            SendWhileServing(Name, HandOverMessage("/", {}))); // a start without files brings the window up
    }
    ASSERT_EQ(Received.size(), 2u);
    ASSERT_EQ(Received[0].size(), 4);
    EXPECT_EQ(Received[0][0], "/clips/a b.mpg");
    EXPECT_EQ(Received[0][1], "/clips/new\nline.mpg");
    EXPECT_EQ(EncodeFileName(Received[0][2]), "/clips/bad\xff.mpg");
    EXPECT_EQ(Received[0][3], QString::fromUtf8("/clips/ä.mpg"));
    EXPECT_TRUE(Received[1].isEmpty());
    EXPECT_FALSE(SendToRunningInstance(Name, HandOverMessage("/", {"a.mpg"}))); // gone with the window
    EXPECT_FALSE(QFile::exists(Name));
}

// The socket's folder is one nobody else can make names in: the runtime
// folder when it is the user's alone, else a folder of the user's made in
// the temporary folder; a name there that another user made first, a link
// or a folder others may enter is not used at all.
TEST(Instance, TheSocketLivesWhereOnlyTheUserMakesNames)
{
    const TTempDir Runtime, Temporary;
    const TEnvironment Tmp("TMPDIR", QByteArray::fromStdString(Temporary.Path()));
    const QString Own = QString::fromStdString(Temporary.File("vantrel-" + std::to_string(::getuid())));
    {
        const TEnvironment Xdg("XDG_RUNTIME_DIR", QByteArray::fromStdString(Runtime.Path()));
        EXPECT_EQ(InstanceFolder(), QString::fromStdString(Runtime.Path()));
        ASSERT_EQ(::chmod(Runtime.Path().c_str(), 0755), 0);
        EXPECT_EQ(InstanceFolder(), Own); // others may enter it
    }
    struct stat St
    {
    };
    ASSERT_EQ(::lstat(QFile::encodeName(Own).constData(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0700u);
    const TEnvironment Xdg("XDG_RUNTIME_DIR", "");
    EXPECT_EQ(InstanceFolder(), Own);
    ASSERT_EQ(::rmdir(QFile::encodeName(Own).constData()), 0);
    // Made first by someone else, or so that someone else may use it.
    ASSERT_EQ(::symlink(Runtime.Path().c_str(), QFile::encodeName(Own).constData()), 0);
    EXPECT_EQ(InstanceFolder(), "");
    ASSERT_EQ(::unlink(QFile::encodeName(Own).constData()), 0);
    ASSERT_EQ(::mkdir(QFile::encodeName(Own).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(Own).constData(), 0777), 0);
    EXPECT_EQ(InstanceFolder(), "");
    if (::getuid() == 0) {
        ASSERT_EQ(::chmod(QFile::encodeName(Own).constData(), 0700), 0);
        ASSERT_EQ(::chown(QFile::encodeName(Own).constData(), Nobody, Nobody), 0);
        EXPECT_EQ(InstanceFolder(), "");
    }
    EXPECT_EQ(InstanceName(""), "");
}

// One window a user and display: each X display and Wayland socket has its
// own name, and a display's screens share one.
TEST(Instance, OneNameADisplay)
{
    const struct
    {
        const char* X;
        const char* Wayland;
    } Displays[] = {{":0", ""},        {":0.0", ""},        {":1", ""},
                    {"host:10.0", ""}, {":0", "wayland-0"}, {":0", "wayland-1"}};
    QStringList Names;
    for (const auto& Display : Displays) {
        const TEnvironment X("DISPLAY", Display.X), Wayland("WAYLAND_DISPLAY", Display.Wayland);
        Names << InstanceName("/run/user/1000");
    }
    EXPECT_EQ(Names[0], "/run/user/1000/vantrel-:0");
    EXPECT_EQ(Names[1], Names[0]);
    EXPECT_EQ(Names[3], "/run/user/1000/vantrel-host:10");
    EXPECT_EQ(QSet<QString>(Names.begin(), Names.end()).size(), 5);
}

// Who is at the other end is asked of the system, on both ends: names go
// to no other user's server, and no other user's start hands any in.
TEST(Instance, AnotherUsersEndIsRefused)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "a second user needs root here";
    const TTempDir Dir;
    ASSERT_EQ(::chmod(Dir.Path().c_str(), 0777), 0);
    const std::string Theirs = Dir.File("theirs"), Ours = Dir.File("ours");
    // Another user's server that answers "ok" to anything, at a name that
    // looks like ours: first as their own name, then given to us.
    int Heard[2];
    ASSERT_EQ(::pipe(Heard), 0);
    const pid_t Server = ::fork();
    if (Server == 0) {
        sockaddr_un Address{};
        Address.sun_family = AF_UNIX;
        std::copy(Theirs.begin(), Theirs.end(), Address.sun_path);
        const int Socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::setuid(Nobody) != 0 ||
            ::bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
            ::listen(Socket, 8) != 0)
            ::_exit(1);
        for (char Byte;;) {
            const int Client = ::accept(Socket, nullptr, nullptr);
            while (::read(Client, &Byte, 1) == 1)
                [[maybe_unused]] const ssize_t Told = ::write(Heard[1], &Byte, 1);
            [[maybe_unused]] const ssize_t Answered = ::write(Client, "ok\n", 3);
            ::close(Client);
        }
    }
    ::close(Heard[1]);
    for (int I = 0; I < 200 && ::access(Theirs.c_str(), F_OK) != 0; ++I)
        ::usleep(10000);
    const QByteArray Message = HandOverMessage("/", {"/home/victim/secret.mpg"});
    EXPECT_FALSE(SendToRunningInstance(QString::fromStdString(Theirs), Message));
    ASSERT_EQ(::chown(Theirs.c_str(), ::getuid(), ::getgid()), 0);
    EXPECT_FALSE(SendToRunningInstance(QString::fromStdString(Theirs), Message));
    ::kill(Server, SIGKILL);
    ::waitpid(Server, nullptr, 0);
    char Byte;
    EXPECT_EQ(::read(Heard[0], &Byte, 1), 0) << "the other user's server heard a name";
    ::close(Heard[0]);

    // Another user's start on our server, which others could reach.
    int Received = 0;
    const TInstanceServer Ours_(QString::fromStdString(Ours), [&](const QStringList&) { ++Received; });
    ASSERT_EQ(::chmod(Ours.c_str(), 0777), 0);
    const pid_t Client = ::fork();
    if (Client == 0) {
        if (::setuid(Nobody) != 0)
            ::_exit(2);
        const int Socket = Connect(Ours);
        char Answer[3] = {};
        [[maybe_unused]] const ssize_t Sent = ::write(Socket, "/\0/x.mpg\0\0", 10);
        ::_exit(Socket >= 0 && ::read(Socket, Answer, 2) == 2 ? 3 : 0);
    }
    int Status = 0;
    while (::waitpid(Client, &Status, WNOHANG) == 0)
        QCoreApplication::processEvents();
    EXPECT_EQ(WEXITSTATUS(Status), 0) << "the other user's start was answered";
    QTest::qWait(50);
    EXPECT_EQ(Received, 0);
    EXPECT_TRUE(Ours_.Listening());
}

int OpenDescriptors()
{
    int Count = 0;
    if (DIR* Fds = ::opendir("/proc/self/fd")) {
        while (::readdir(Fds))
            ++Count;
        ::closedir(Fds);
    }
    return Count;
}

// What clients may do does not take the server down: a message larger than
// any start sends, one that never ends, and a flood of idle connections
// while descriptors are few. It listens on, at its name, and the next
// start is heard.
TEST(Instance, ClientsCannotTakeTheServerDown)
{
    const TTempDir Dir;
    const QString Name = QString::fromStdString(Dir.File("vantrel-test"));
    std::vector<QStringList> Received;
    const TInstanceServer Server(Name, [&](const QStringList& Files) { Received.push_back(Files); });
    ASSERT_TRUE(Server.Listening());

    const int Big = Connect(Name.toStdString());
    const QByteArray Chunk(1 << 16, 'x');
    ssize_t Sent = 0, N = 0;
    while (
        Sent <= TInstanceServer::MaxMessage + Chunk.size() &&
        ((N = ::send(Big, Chunk.data(), Chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL)) > 0 || errno == EAGAIN)) {
        Sent += std::max<ssize_t>(N, 0);
        QCoreApplication::processEvents();
    }
    QTest::qWait(100);
    char Byte;
    N = ::recv(Big, &Byte, 1, MSG_DONTWAIT);
    EXPECT_TRUE(N == 0 || (N < 0 && errno == ECONNRESET)) << "a message that never ends is dropped";
    ::close(Big);

    // Idle connections from another process, beyond what descriptors allow.
    rlimit Old{};
    ::getrlimit(RLIMIT_NOFILE, &Old);
    rlimit Few = Old;
    Few.rlim_cur = static_cast<rlim_t>(OpenDescriptors() + 20);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &Few), 0);
    const pid_t Flood = ::fork();
    if (Flood == 0) {
        ::setrlimit(RLIMIT_NOFILE, &Old);
        for (int I = 0; I < 300; ++I)
            Connect(Name.toStdString());
        ::pause();
        ::_exit(0);
    }
    QTest::qWait(1500);
    EXPECT_TRUE(Server.Listening());
    EXPECT_TRUE(QFile::exists(Name));
    ::kill(Flood, SIGKILL);
    ::waitpid(Flood, nullptr, 0);
    QTest::qWait(100);
    ::setrlimit(RLIMIT_NOFILE, &Old);
    EXPECT_TRUE(SendWhileServing(Name, HandOverMessage("/", {"/a.mpg"})));
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0], QStringList{"/a.mpg"});
}

// What a window that was killed left at the name (a socket nobody answers
// on, or any file of the user's) is taken over; a name another live
// window holds is left to it.
TEST(Instance, ANameLeftBehindIsTakenOverAndALiveOneIsNot)
{
    const TTempDir Dir;
    const QString Name = QString::fromStdString(Dir.File("vantrel-test"));
    WriteFile(Name.toStdString(), {1});
    EXPECT_FALSE(SendToRunningInstance(Name, HandOverMessage("/", {})));
    {
        const TInstanceServer First(Name, [](const QStringList&) {});
        EXPECT_TRUE(First.Listening());
        const TInstanceServer Second(Name, [](const QStringList&) {});
        EXPECT_FALSE(Second.Listening());
        EXPECT_TRUE(SendWhileServing(Name, HandOverMessage("/", {})));
    }
}

} // namespace
} // namespace vantrel
