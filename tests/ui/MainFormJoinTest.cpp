// A join from the main window, driven as a user would: the check of the
// files, the output name, the join and what the window says after it.
#include "MainWindowTest.h"
#include "ui/JoinFlow.h"

#include <QFileInfo>
#include <QLabel>
#include <QTimer>
#include <filesystem>

namespace vantrel {
namespace {

using namespace test;

TEST_F(MainWindowTest, CompatibilityOutcomes)
{
    // Video and audio differences: only the video message, a warning that
    // names the file and the first file, and no join.
    std::vector<TMessageAnswer> Defaults;
    TJoinFlow Flow(*Window, [this, &Defaults](const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                                              TMessageAnswer Default) {
        Defaults.push_back(Default);
        return Window->ShowMessageBox(Text, Kind, Buttons);
    });
    auto Check = [&] { return Flow.CheckCompatibility(List()->Model().Records()); };
    Add({"ff_pal.mpg", "ff_pal_mono48.mpg", "ff_vcd.mpg"});
    TJoinFlow::TCompatibility Result = Check();
    EXPECT_TRUE(Result.Cancel);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text,
              "The video of ff_vcd.mpg differs from that of the first file, ff_pal.mpg (352 x "
              "240 at 29.97 fps vs 352 x 288 at 25.00 fps): the files cannot be joined.\r\n"
              "Leave it out, or put first a file that it matches.");
    EXPECT_EQ(Messages[0].Kind, TMessageKind::Warning);
    EXPECT_EQ(Messages[0].Buttons, TMessageButtons::Ok);

    // Audio differences only: the answer decides, and No, which keeps the
    // sound, is the default.
    Window->Edits().Remove({2});
    Messages.clear();
    Defaults.clear();
    Answers = {TMessageAnswer::No, TMessageAnswer::Yes};
    EXPECT_TRUE(Check().Cancel);
    Result = Check();
    EXPECT_FALSE(Result.Cancel);
    EXPECT_TRUE(Result.VideoOnly);
    ASSERT_EQ(Messages.size(), 2u);
    EXPECT_EQ(Messages[0].Text,
              "The sound of ff_pal_mono48.mpg differs from that of the first file, ff_pal.mpg "
              "(48 kHz mono vs 44.1 kHz stereo): the files can be joined only without sound."
              "\r\nDo you want to join the video only, without sound?");
    EXPECT_EQ(Messages[0].Kind, TMessageKind::Confirmation);
    EXPECT_EQ(Defaults, std::vector<TMessageAnswer>(2, TMessageAnswer::No));

    // An elementary stream with no differences: video only, no question.
    Window->Edits().Clear(Rows());
    Messages.clear();
    Add({"ff_pal_noaudio.mpg", "ff_pal.m1v"});
    Result = Check();
    EXPECT_FALSE(Result.Cancel);
    EXPECT_TRUE(Result.VideoOnly);
    EXPECT_TRUE(Messages.empty());

    Window->Edits().Clear(Rows());
    Add({"ff_pal.mpg", "mplex_vcd.mpg"});
    Result = Check();
    EXPECT_FALSE(Result.Cancel);
    EXPECT_FALSE(Result.VideoOnly);
}

TEST_F(MainWindowTest, JoinFromTheWindow)
{
    Add({"ff_pal_b.mpg", "mplex_vcd.mpg"});
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("joined"))});
    Action("acnJoinFile")->trigger();
    EXPECT_TRUE(Messages.empty()) << Messages.front().Text.toStdString();
    const std::string Out = Dir.File("joined.mpg");
    ASSERT_TRUE(FileExists(Out));
    EXPECT_EQ(DecodeErrors(Out), "");
    EXPECT_EQ(Window->LastSaveFolder(), QString::fromStdString(Dir.Path()));
    EXPECT_TRUE(Window->isEnabled());
}

// The name typed is the name written when it ends in an extension a join
// writes; a name without one gets the one that fits the output. The dialog
// proposes a name beside the first file.
TEST_F(MainWindowTest, TheNameTypedIsTheNameWritten)
{
    const struct
    {
        std::vector<const char*> Files;
        const char* Typed;
        const char* Written;
        const char* Fits; // the extension of the output
    } Cases[] = {
        {{"ff_pal.mpg"}, "joined.mpg", "joined.mpg", ".mpg"},
        {{"ff_pal.mpg"}, "holiday", "holiday.mpg", ".mpg"},
        {{"ff_pal.mpg"}, "out.avi", "out.avi.mpg", ".mpg"},
        {{"ff_pal.mpg", "ff_pal.mpg"}, "CLIP.MPEG", "CLIP.MPEG", ".mpg"},
        {{"ff_pal.m1v"}, "video", "video.m1v", ".m1v"},
        {{"dvd_pal1.vob"}, "dvd", "dvd.vob", ".vob"},
    };
    for (const auto& C : Cases) {
        Window->Edits().Clear(Rows());
        QStringList Files;
        for (const char* Name : C.Files)
            Files << S(Name);
        Window->AddFiles(Files);
        Settle();
        TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File(C.Typed))});
        Action("acnJoinFile")->trigger();
        EXPECT_TRUE(Messages.empty()) << C.Typed << ": " << Messages.front().Text.toStdString();
        EXPECT_TRUE(FileExists(Dir.File(C.Written))) << C.Typed;
        const QFileInfo First(Files.front());
        EXPECT_EQ(TFileCommonDialog::AnsweredInitialName(),
                  First.absolutePath() + "/" + First.completeBaseName() + "-joined" + C.Fits)
            << C.Typed;
    }
    // A folder that cannot be written to (or is gone) is not proposed.
    TInputRecord OnDisc;
    OnDisc.FileName = "/gone/clip.mpg";
    EXPECT_EQ(ProposedOutputName(OnDisc, ".mpg", "/saved"), "/saved/clip-joined.mpg");
}

TEST_F(MainWindowTest, JoinIntoAListedFileFailsAndKeepsIt)
{
    const std::string Listed = Dir.File("clip.mpeg");
    WriteFile(Listed, ReadFile(Stream("ff_pal.mpg")));
    Window->AddFiles({S("ff_pal_b.mpg"), QString::fromStdString(Listed)});
    Settle();
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Listed)});
    Action("acnJoinFile")->trigger();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text, "Join fails: The output file cannot be one of the input files.");
    EXPECT_EQ(Messages[0].Kind, TMessageKind::Warning);
    EXPECT_TRUE(ReadFile(Listed) == ReadFile(Stream("ff_pal.mpg")));
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Window->LastSaveFolder(), ""); // where it failed is not remembered
}

TEST_F(MainWindowTest, AfterAJoinTheStatusBarSaysWhereItWent)
{
    Add({"ff_pal_b.mpg", "ff_pal.mpg"});
    EXPECT_FALSE(Action("acnShowInFolder")->isVisible());
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("joined"))});
    Action("acnJoinFile")->trigger();
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(Panel(0)->toolTip(), "Joined 2 files into joined.mpg (0:00:05)");
    ASSERT_TRUE(Action("acnShowInFolder")->isVisible());
    Action("acnShowInFolder")->trigger(); // the file, selected in the file manager
    EXPECT_EQ(Opened, QStringList{QString::fromStdString(Dir.File("joined.mpg"))});
    // Until the list changes.
    Select(1);
    Action("acnMoveUp")->trigger();
    EXPECT_FALSE(Action("acnShowInFolder")->isVisible());
    EXPECT_EQ(Panel(0)->text(), "ff_pal.mpg");

    // Time stamps kept as they are: the bar says so while it holds, and so
    // does the note of a join made that way.
    auto* Notice = Window->findChild<QLabel*>("StatusNotice");
    EXPECT_TRUE(Notice->isHidden());
    Action("miRecalcTimecodes")->trigger();
    EXPECT_FALSE(Notice->isHidden());
    EXPECT_EQ(Notice->text(), "Re-calc Timecodes off: time stamps kept as they are");
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("kept"))});
    Action("acnJoinFile")->trigger();
    EXPECT_TRUE(Panel(0)->toolTip().endsWith("; time stamps kept as they are"))
        << Panel(0)->toolTip().toStdString();
}

TEST_F(MainWindowTest, TheSaveDialogAsksAboutTheNameWithTheExtension)
{
    Add({"ff_pal.mpg"});
    const std::string Existing = Dir.File("x.avi.mpg");
    WriteFile(Existing, {7, 7, 7});
    // "x.avi" is typed; x.avi.mpg exists. No goes back to the dialog, which
    // is then cancelled.
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("x.avi"))});
    TFileCommonDialog::AddNextAnswer({});
    Answers = {TMessageAnswer::No};
    Action("acnJoinFile")->trigger();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text, "x.avi.mpg already exists.\r\nDo you want to replace it?");
    EXPECT_EQ(Messages[0].Buttons, TMessageButtons::YesNo);
    EXPECT_EQ(TFileCommonDialog::AnsweredInitialName(), QString::fromStdString(Dir.File("x.avi")));
    EXPECT_EQ(ReadFile(Existing), (TBytes{7, 7, 7}));
    // Yes replaces it.
    Messages.clear();
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("x.avi"))});
    Answers = {TMessageAnswer::Yes};
    Action("acnJoinFile")->trigger();
    EXPECT_EQ(Messages.size(), 1u);
    EXPECT_EQ(ReadFile(Existing), ReadFile(Stream("ff_pal.mpg")));
}

TEST_F(MainWindowTest, ClosingDuringAJoinAsksFirst)
{
    Add({"ff_pal_b.mpg", "ff_pal.mpg"});
    for (const TMessageAnswer Answer : {TMessageAnswer::No, TMessageAnswer::Yes}) {
        Messages.clear();
        Answers = {Answer};
        Window->show();
        // The close arrives while the join polls for events.
        QTimer::singleShot(0, Window.get(), [this] { Window->close(); });
        TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("out.mpeg"))});
        Action("acnJoinFile")->trigger();
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].Text, "Files are being joined. Do you want to cancel the join?");
        EXPECT_EQ(Window->isVisible(), Answer == TMessageAnswer::No);
        EXPECT_TRUE(FileExists(Dir.File("out.mpeg")));
    }
    EXPECT_TRUE(Panel(0)->toolTip().startsWith("Join cancelled"));
}

// SIGTERM, SIGHUP or SIGINT to the program during a join: not a Cancel, the
// output stays as it was, nothing partial is left, and the window closes.
TEST_F(MainWindowTest, AnEndRequestDuringAJoinLeavesTheOutputAsItWas)
{
    Add({"ff_pal_b.mpg", "ff_pal.mpg"});
    const std::string Out = Dir.File("out.mpeg");
    WriteFile(Out, {7, 7});
    Window->show();
    QTimer::singleShot(0, Window.get(), [this] { Window->Terminate(); });
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Out)});
    Answers = {TMessageAnswer::Yes}; // replace it
    Action("acnJoinFile")->trigger();
    EXPECT_FALSE(Window->isVisible());
    EXPECT_EQ(ReadFile(Out), (TBytes{7, 7}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 1);
}

TEST_F(MainWindowTest, AChangedInputRefusesTheJoinAndShowsWhatItHoldsNow)
{
    const std::string B = Dir.File("b.mpg");
    WriteFile(B, ReadFile(Stream("ff_pal.mpg")));
    Window->AddFiles({S("ff_pal.mpg"), QString::fromStdString(B)});
    Settle();
    WriteFile(B, ReadFile(Stream("ff_small.mpg"))); // replaced hours later
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("out.mpeg"))});
    Action("acnJoinFile")->trigger();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text,
              "Join fails: The file " + QString::fromStdString(B) + " has changed since it was added.");
    EXPECT_EQ(Status(1), "Video Differ");
    EXPECT_FALSE(FileExists(Dir.File("out.mpeg")));
}

// A multiplex first asks once which program to keep; the files are then
// judged by that program. A file of one program asks nothing.
TEST_F(MainWindowTest, AMultiplexAsksWhichProgram)
{
    TJoinFlow Flow(*Window, [this](const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                                   TMessageAnswer) { return Window->ShowMessageBox(Text, Kind, Buttons); });
    std::vector<QStringList> Asked;
    std::optional<int> Answer = 2;
    Flow.Choose = [&](const QString&, const QStringList& Choices) {
        Asked.push_back(Choices);
        return Answer;
    };
    Add({"ts_mux.ts", "ts_mux.ts"});
    TJoinFlow::TCompatibility Result = Flow.CheckCompatibility(List()->Model().Records());
    EXPECT_FALSE(Result.Cancel);
    EXPECT_EQ(Result.Program, 2);
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0], (QStringList{"All programs", "1 \"One\"", "2 \"Two\""}));
    Answer = 0;
    EXPECT_EQ(Flow.CheckCompatibility(List()->Model().Records()).Program, 0);
    Answer.reset();
    EXPECT_TRUE(Flow.CheckCompatibility(List()->Model().Records()).Cancel);
    EXPECT_TRUE(Messages.empty());

    // A file without the program chosen is refused by name.
    Window->Edits().Clear(Rows());
    Add({"ts_mux.ts", "ts_mux.ts", "ts_ac3.ts"});
    Asked.clear();
    Answer = 2;
    Result = Flow.CheckCompatibility(List()->Model().Records());
    EXPECT_TRUE(Result.Cancel);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_NE(Messages[0].Text.indexOf("The video of ts_ac3.ts differs"), -1)
        << Messages[0].Text.toStdString();

    Window->Edits().Clear(Rows());
    Asked.clear();
    Add({"ts_ac3.ts", "ts_pids.ts"});
    EXPECT_FALSE(Flow.CheckCompatibility(List()->Model().Records()).Cancel);
    EXPECT_TRUE(Asked.empty());
}

} // namespace
} // namespace vantrel
