// Files handed to the open window by later starts, and the ends of the
// program: the window as a start finds it (minimised, asking, joining), and
// the real program started and signalled as a desktop does it.
#include "ui/FileDlg.h"
#include "ui/FileNames.h"
#include "ui/MainForm.h"

#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

class HandOverTest : public ::testing::Test
{
protected:
    HandOverTest()
    {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "zentrova", "vantrel").clear();
        WriteFile(A, ReadFile(Stream("ff_pal.mpg")));
        WriteFile(B, ReadFile(Stream("ff_pal_b.mpg")));
        WriteFile(C, ReadFile(Stream("ff_pal.mpg")));
    }
    ~HandOverTest() override { TFileCommonDialog::SetNextAnswer(std::nullopt); }
    // Boxes answered by Answer, which may act while the box is "open".
    void Make(std::function<TMessageAnswer(const QString&)> Answer)
    {
        Window = std::make_unique<TfrmMain>(
            TProductInfo{}, [this, Answer](const QString& Text, TMessageKind, TMessageButtons) {
                Messages << Text;
                return Answer(Text);
            });
        Window->show();
    }
    static QString Q(const std::string& Name) { return QString::fromStdString(Name); }
    int Rows() const { return Window->FileList()->Count(); }
    QAction* Action(const char* Name) const { return Window->findChild<QAction*>(Name); }
    QString Note() const { return Window->findChild<QLabel*>("StatusPanel0")->toolTip(); }

    TTempDir Dir;
    const std::string A = Dir.File("a.mpg"), B = Dir.File("b.mpg"), C = Dir.File("c.mpg");
    std::unique_ptr<TfrmMain> Window;
    QStringList Messages;
};

// A file handed over while "remove all?" is open waits for the answer; the
// Yes that clears the list does not take it away.
TEST_F(HandOverTest, FilesHandedOverDuringAQuestionWaitForItsAnswer)
{
    Make([this](const QString&) {
        Window->HandOver({Q(C)});
        QTest::qWait(300); // the window goes on serving its events meanwhile
        EXPECT_EQ(Rows(), 2);
        return TMessageAnswer::Yes;
    });
    Window->AddFiles({Q(A), Q(B)});
    Window->UpdateActions();
    Action("acnClear")->trigger();
    EXPECT_EQ(Rows(), 0);
    QTest::qWait(300);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Window->FileList()->FileName(0), Q(C));
}

// Files handed over during a join are added once it ends, and its note and
// Show in Folder stay.
TEST_F(HandOverTest, FilesHandedOverDuringAJoinKeepItsNote)
{
    Make([](const QString&) { return TMessageAnswer::Ok; });
    Window->AddFiles({Q(A), Q(B)});
    Window->UpdateActions();
    QTimer::singleShot(0, Window.get(), [this] { Window->HandOver({Q(C)}); });
    TFileCommonDialog::SetNextAnswer(QStringList{Q(Dir.File("joined"))});
    Action("acnJoinFile")->trigger();
    EXPECT_EQ(Rows(), 2);
    QTest::qWait(300);
    EXPECT_EQ(Rows(), 3);
    EXPECT_TRUE(Note().startsWith("Joined 2 files into joined.mpeg")) << Note().toStdString();
    EXPECT_TRUE(Action("acnShowInFolder")->isVisible());
    EXPECT_TRUE(Messages.isEmpty());
}

// A start hands files to a window that is minimised: it comes back.
TEST_F(HandOverTest, AMinimisedWindowIsRestoredAndActivated)
{
    Make([](const QString&) { return TMessageAnswer::Ok; });
    Window->showMinimized();
    QTest::qWait(50);
    Window->HandOver({Q(A)});
    EXPECT_FALSE(Window->isMinimized());
    EXPECT_TRUE(Window->isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    QTest::qWait(300);
    EXPECT_EQ(Rows(), 1);
    // Hidden, as well.
    Window->hide();
    Window->HandOver({});
    EXPECT_TRUE(Window->isVisible());
}

// Names that are not files, handed over while the message saying so is
// open, join that message: one box, however many starts. A long list is
// cut to what a screen shows.
TEST_F(HandOverTest, NamesThatAreNotFilesGatherInTheOpenMessage)
{
    Window = std::make_unique<TfrmMain>(TProductInfo{});
    Window->show();
    int Boxes = 0;
    QString Shown;
    QTimer::singleShot(100, Window.get(), [&] {
        Window->HandOver({Q(Dir.File("gone0.mpg")), Q(C)});
        for (int I = 1; I < 40; ++I)
            Window->HandOver({Q(Dir.File("gone" + std::to_string(I) + ".mpg"))});
        QTest::qWait(300);
        for (QWidget* Top : QApplication::topLevelWidgets())
            if (auto* Box = qobject_cast<QMessageBox*>(Top); Box && Box->isVisible()) {
                ++Boxes;
                Shown = Box->text();
            }
        if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            Box->button(QMessageBox::Ok)->click();
    });
    Window->OpenFiles({Q(Dir.File("missing.mpg")), Q(A)});
    EXPECT_EQ(Boxes, 1);
    const QStringList Lines = Shown.split('\n');
    ASSERT_EQ(Lines.size(), 1 + 12 + 1) << Shown.toStdString();
    EXPECT_EQ(Lines[0], "These names are not files, and were not added:");
    EXPECT_EQ(Lines[1], Q(Dir.File("missing.mpg")));
    EXPECT_EQ(Lines[2], Q(Dir.File("gone0.mpg")));
    EXPECT_EQ(Lines.back(), "(and 29 more)");
    QTest::qWait(300);
    EXPECT_EQ(Rows(), 2); // a.mpg, then c.mpg once the message was answered
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A name that is not UTF-8 is a name like any other, as the system has it.
TEST_F(HandOverTest, ANameThatIsNotUtf8IsAFile)
{
    const QByteArray Bad = QByteArray::fromStdString(Dir.File("bad\xff.mpg"));
    WriteFile(Bad.toStdString(), ReadFile(Stream("ff_pal.mpg")));
    Make([](const QString&) { return TMessageAnswer::Ok; });
    Window->HandOver({DecodeFileName(Bad)});
    QTest::qWait(300);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Window->FileList()->Record(0).FileName, Bad.toStdString());
    EXPECT_EQ(EncodeFileName(Window->FileList()->FileName(0)), Bad);
    EXPECT_TRUE(Messages.isEmpty());
}

// An end request while a question is open takes the question back (as its
// Escape: No) and closes the window; a save of the settings that fails then
// is said on standard error, not in a box nobody would answer.
TEST_F(HandOverTest, AnEndRequestAnswersNothingAndAsksNothing)
{
    Window = std::make_unique<TfrmMain>(TProductInfo{});
    Window->show();
    Window->AddFiles({Q(A)});
    Window->UpdateActions();
    const QString Folder =
        Q(ParentFolder(QSettings(QSettings::NativeFormat, QSettings::UserScope, "zentrova", "vantrel")
                           .fileName()
                           .toStdString()));
    const bool Had = QFile::exists(Folder);
    ASSERT_TRUE(!Had || QFile::rename(Folder, Folder + ".away"));
    WriteFile(Folder.toStdString(), {1}); // the settings folder is a file now
    QTimer::singleShot(100, Window.get(), [this] { Window->Terminate(); });
    testing::internal::CaptureStderr();
    Action("acnClear")->trigger(); // "remove all?" in a real box
    const std::string Said = testing::internal::GetCapturedStderr();
    QFile::remove(Folder);
    ASSERT_TRUE(!Had || QFile::rename(Folder + ".away", Folder));
    EXPECT_FALSE(Window->isVisible());
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_NE(Said.find("vantrel: Failed to set data for"), std::string::npos) << Said;
}

// The real program, as the desktop starts it: on a display of its own
// (offscreen), with its own runtime and settings folders.
class ProgramTest : public ::testing::Test
{
protected:
    std::string Env() const
    {
        return "env QT_QPA_PLATFORM=offscreen DISPLAY=:91 WAYLAND_DISPLAY= XDG_RUNTIME_DIR=" +
               Quote(Runtime.Path()) + " XDG_CONFIG_HOME=" + Quote(Config.Path()) + " ";
    }
    const std::string Program = VANTREL_GUI;
    TTempDir Runtime, Config;
};

// --version and --help print and start nothing, with no display at all;
// an option it does not know is a usage error.
TEST_F(ProgramTest, VersionAndHelpStartNothing)
{
    std::string Said;
    EXPECT_EQ(RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 " + Program +
                             " --version",
                         &Said),
              0);
    EXPECT_EQ(Said, "Vantrel " VANTREL_VERSION "\n");
    EXPECT_EQ(RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 " + Program +
                             " a.mpg --help",
                         &Said),
              0);
    EXPECT_EQ(Said.rfind("Usage: vantrel [--] [FILE]...\n", 0), 0u) << Said;
    EXPECT_EQ(RunCommand(Env() + "timeout 10 " + Program + " --bogus", &Said), 2);
    EXPECT_NE(Said.find("vantrel: unknown option --bogus"), std::string::npos) << Said;
}

// Five starts at the same moment: one window, the others hand over and
// end at once; the window ends on SIGTERM with 128 + 15.
TEST_F(ProgramTest, StartsAtTheSameMomentOpenOneWindow)
{
    std::string Said;
    RunCommand("cd " + Quote(Config.Path()) + "; for i in 1 2 3 4 5; do " + Env() + Program + " " +
                   Quote(Stream("ff_pal.mpg")) +
                   " >/dev/null 2>&1 & eval P$i=$!; done; sleep 4; "
                   "for i in 1 2 3 4 5; do eval P=\\$P$i; if kill -0 $P 2>/dev/null; then echo running; "
                   "R=$P; else wait $P; echo ended $?; fi; done; "
                   "kill -TERM $R; wait $R; echo window $?",
               &Said);
    const auto Count = [&](const std::string& Line) {
        std::size_t N = 0;
        for (std::size_t At = 0; (At = Said.find(Line + "\n", At)) != std::string::npos; At += Line.size())
            ++N;
        return N;
    };
    EXPECT_EQ(Count("running"), 1u) << Said;
    EXPECT_EQ(Count("ended 0"), 4u) << Said;
    EXPECT_NE(Said.find("window 143"), std::string::npos) << Said;
}

// SIGTERM while the settings cannot be saved (the folder a file, or a link
// to a device) ends the window with 128 + 15 and says why on standard
// error; a FIFO at the settings file's own name holds nothing up and stays.
TEST_F(ProgramTest, ASignalEndsTheWindowWhateverTheSettings)
{
    const std::string Store = Config.File("zentrova");
    const struct
    {
        const char* Kind;
        std::string Make;
        const char* Says;
    } Cases[] = {
        {"folder a file", "echo x > " + Quote(Store), "Failed to set data for"},
        {"folder a link to a device", "ln -s /dev/null " + Quote(Store), "Failed to set data for"},
        {"FIFO", "mkdir " + Quote(Store) + " && mkfifo " + Quote(Store + "/vantrel.conf"), ""},
    };
    for (const auto& C : Cases) {
        std::string Said;
        RunCommand("rm -rf " + Quote(Store) + "; " + C.Make + "; " + Env() + "timeout 20 " + Program +
                       " 2>&1 & P=$!; sleep 1.5; kill -TERM $P; wait $P; echo status $?",
                   &Said);
        EXPECT_NE(Said.find("status 143"), std::string::npos) << C.Kind << "\n" << Said;
        EXPECT_NE(Said.find(C.Says), std::string::npos) << C.Kind << "\n" << Said;
    }
    struct stat St
    {
    };
    ASSERT_EQ(::lstat((Store + "/vantrel.conf").c_str(), &St), 0);
    EXPECT_TRUE(S_ISFIFO(St.st_mode));
}

} // namespace
} // namespace vantrel
