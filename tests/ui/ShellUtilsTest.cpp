// Which program plays a file: the desktop's choice, never this program.
#include "ui/ShellUtils.h"

#include "TestSupport.h"

#include <QDBusConnection>
#include <QDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

// A desktop of its own: its config and data folders, their mimeapps.list
// and desktop entries.
class PlayerTest : public ::testing::Test
{
protected:
    PlayerTest()
    {
        for (const char* Name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
            Saved.emplace_back(Name, qgetenv(Name));
        QDir().mkpath(Dir("config"));
        QDir().mkpath(Dir("data/applications"));
        QDir().mkpath(Dir("system/applications"));
        qputenv("XDG_CONFIG_HOME", Dir("config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", Dir("none").toUtf8());
        qputenv("XDG_DATA_HOME", Dir("data").toUtf8());
        qputenv("XDG_DATA_DIRS", Dir("system").toUtf8());
        Entry("system", "vantrel.desktop", "vantrel %F", "video/mpeg;");
        WriteFile(Clip, ReadFile(Stream("ff_pal.mpg")));
    }
    ~PlayerTest() override
    {
        for (const auto& [Name, Value] : Saved)
            qputenv(Name, Value);
    }
    QString Dir(const char* Name) const { return QString::fromStdString(Temp.File(Name)); }
    void Entry(const char* Where, const char* Id, const char* Exec, const char* Types)
    {
        WriteText(Dir(Where) + "/applications/" + Id,
                  QString("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\nMimeType=%3\n")
                      .arg(Id, Exec, Types));
    }
    static void WriteText(const QString& Name, const QString& Text)
    {
        const QByteArray Bytes = Text.toUtf8();
        WriteFile(Name.toStdString(), TBytes(Bytes.begin(), Bytes.end()));
    }

    TTempDir Temp;
    std::vector<std::pair<const char*, QByteArray>> Saved;
    const std::string Clip = Temp.File("clip 1.mpg");
};

TEST_F(PlayerTest, NeverThisProgramEvenWhenItIsTheDefault)
{
    const QString File = QString::fromStdString(Clip);
    WriteText(Dir("config") + "/mimeapps.list", "[Default Applications]\nvideo/mpeg=vantrel.desktop\n");
    EXPECT_EQ(PlayerCommand(File), std::nullopt); // nothing else plays it
    Entry("system", "player.desktop", "player --play %U", "video/mpeg;video/mp4;");
    EXPECT_EQ(PlayerCommand(File), (QStringList{"player", "--play", QUrl::fromLocalFile(File).toString()}));
    // A default of the user's own comes first, quoted words and all; an
    // entry in the user's folder hides the system's one of the same name.
    Entry("system", "mine.desktop", "mine", "");
    Entry("data", "mine.desktop", "\"/opt/my player/run\" --fullscreen %f", "");
    WriteText(Dir("config") + "/mimeapps.list",
              "[Default Applications]\nvideo/mpeg=vantrel.desktop;mine.desktop\n");
    EXPECT_EQ(PlayerCommand(File), (QStringList{"/opt/my player/run", "--fullscreen", File}));
    // A desktop entry that starts this program by its path counts as this program.
    Entry("data", "mine.desktop", "/usr/bin/vantrel %F", "");
    EXPECT_EQ(PlayerCommand(File), (QStringList{"player", "--play", QUrl::fromLocalFile(File).toString()}));
}

// No file manager on a session bus and no program that opens a folder: the
// caller hears of it, where nothing at all happened before.
TEST(ShowInFileManagerTest, NothingThatShowsFoldersIsSaid)
{
    if (QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "a file manager on this session's bus would open";
    TTempDir Empty;
    const QByteArray Path = qgetenv("PATH");
    qputenv("PATH", Empty.Path().c_str());
    int Unshown = 0;
    ShowInFileManager(QString::fromStdString(Empty.File("joined.mpg")), [&Unshown] { ++Unshown; });
    qputenv("PATH", Path);
    EXPECT_EQ(Unshown, 1);
}

} // namespace
} // namespace vantrel
