// The main window driven as a user would: through its actions, keys and
// drops, with message boxes and file dialogs answered through their seams.
#include "ui/MainForm.h"
#include "MainWindowTest.h"
#include "io/SysUtils.h"
#include "ui/FileDlg.h"
#include "ui/JoinFlow.h"
#include "ui/ShellUtils.h"

#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vantrel {
namespace {

using namespace test;

TEST_F(MainWindowTest, FirstStartWithNothingStored)
{
    EXPECT_EQ(Window->objectName(), "frmMain");
    EXPECT_EQ(Window->windowTitle(), "Vantrel");
    // A good share of the screen, at least the designed size, in its middle.
    const QRect Free = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(Window->size(), QSize(std::max(TfrmMain::DesignWidth, Free.width() * 6 / 10),
                                    std::max(TfrmMain::DesignHeight, Free.height() * 6 / 10)));
    EXPECT_NEAR(Window->geometry().center().x(), Free.center().x(), 4);
    EXPECT_TRUE(Action("miRecalcTimecodes")->isChecked());
    const std::map<std::string, bool> Expected = {
        {"acnAddFiles", true},  {"acnJoinFile", false}, {"acnPlay", false}, {"acnMoveUp", false},
        {"acnMoveDown", false}, {"acnDelete", false},   {"acnClear", false}};
    EXPECT_EQ(Enabled(), Expected);
    EXPECT_EQ(Panel(0)->text(), "There are no selected files.");
    const QFontMetrics Metrics(Window->statusBar()->font());
    EXPECT_EQ(Panel(0)->width(), Metrics.horizontalAdvance("There are no selected files.") + 10);
    EXPECT_EQ(Panel(1)->width(), 50);
    EXPECT_EQ(Panel(2)->width(), 50);
    EXPECT_EQ(Rows(), 0);
}

TEST_F(MainWindowTest, CommandsAndShortcutsAsDesigned)
{
    const struct
    {
        const char* Name;
        const char* Caption;
        QKeySequence Key;
    } Cases[] = {
        {"acnAddFiles", "Add Files", QKeySequence("Ctrl+O")},
        {"acnJoinFile", "Join Files", QKeySequence("Ctrl+S")},
        {"acnPlay", "Play", QKeySequence(Qt::Key_Return)},
        {"acnMoveUp", "Move Up", QKeySequence("Ctrl+Up")},
        {"acnMoveDown", "Move Down", QKeySequence("Ctrl+Down")},
        {"acnDelete", "Delete", QKeySequence("Del")},
        {"acnClear", "Clear", QKeySequence()},
        {"miHelpTopics", "Help Topics", QKeySequence("F1")},
        {"miExit", "Exit", QKeySequence("Ctrl+Q")},
    };
    for (const auto& C : Cases) {
        EXPECT_EQ(Action(C.Name)->text().remove('&'), C.Caption);
        EXPECT_EQ(Action(C.Name)->toolTip(), C.Caption);
        EXPECT_EQ(Action(C.Name)->shortcut(), C.Key) << C.Name;
    }
    auto* Popup = Window->findChild<QMenu*>("PopupMenu");
    ASSERT_NE(Popup, nullptr);
    EXPECT_EQ(Popup->defaultAction(), Action("acnPlay"));
    for (const char* Button :
         {"tbnAddFile", "tbnJoinFile", "tbnPlay", "tbnFileUp", "tbnFileDown", "tbnClear"})
        EXPECT_NE(Window->findChild<QWidget*>(Button), nullptr) << Button;
    for (const char* Icon : {"acnAddFiles", "acnJoinFile", "acnPlay", "acnMoveUp", "acnMoveDown", "acnClear"})
        EXPECT_FALSE(Action(Icon)->icon().pixmap(24, 24).isNull()) << Icon;
}

TEST_F(MainWindowTest, AddedFilesShowTheirFormatAndStatus)
{
    Add({"ff_pal.mpg", "ff_vcd.mpg", "ff_pal_mono48.mpg", "ff_pal.m1v", "mplex_vcd.mpg", "ff_pal.mpg"});
    ASSERT_EQ(Rows(), 6);
    EXPECT_EQ(Caption(0), S("ff_pal.mpg"));
    EXPECT_EQ(Cell(0, lcFrameSize), "352 x 288");
    EXPECT_EQ(Cell(0, lcFrameRate), FrameRateText(25));
    EXPECT_EQ(Cell(1, lcFrameSize), "352 x 240");
    EXPECT_EQ(Cell(1, lcFrameRate), FrameRateText(29.97));
    EXPECT_EQ(Statuses(), QStringList({"OK", "Video Differ", "Audio Differ", "Audio Differ", "OK", "OK"}));
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(SelectedRow(), 0); // Enter and Del act on what was added
    EXPECT_EQ(Panel(0)->text(), "ff_pal.mpg");
}

TEST_F(MainWindowTest, FilesThatCannotBeAddedAreAskedAbout)
{
    const std::string Bad = Dir.File("bad.mpg");
    WriteFile(Bad, {1, 2, 3, 4, 5});
    const QStringList Names = {S("ff_pal.mpg"), QString::fromStdString(Bad), S("ff_pal_b.mpg")};

    Answers = {TMessageAnswer::Yes};
    Window->AddFiles(Names);
    Settle();
    EXPECT_EQ(Rows(), 2);
    ASSERT_EQ(Messages.size(), 1u);
    // The probe's message ends with a full stop: the prompt keeps one.
    EXPECT_EQ(Messages[0].Text,
              "Unable to add file " + QString::fromStdString(Bad) +
                  ": Unable to read the file format.\r\nDo you want to continue add other files?");
    EXPECT_EQ(Messages[0].Kind, TMessageKind::Warning);
    EXPECT_EQ(Messages[0].Buttons, TMessageButtons::YesNo);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    Answers = {TMessageAnswer::No};
    Window->AddFiles(Names);
    Settle();
    EXPECT_EQ(Rows(), 3); // only the first of the second batch

    // Many that fail: one question, and Skip All passes over the rest.
    Messages.clear();
    Answers = {TMessageAnswer::SkipAll};
    Window->AddFiles({QString::fromStdString(Bad), QString::fromStdString(Bad), S("ff_pal_b.mpg"),
                      QString::fromStdString(Bad)});
    Settle();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Buttons, TMessageButtons::YesSkipAllNo);
    EXPECT_EQ(Rows(), 4);
}

TEST_F(MainWindowTest, MoveItemExamples)
{
    const struct
    {
        int From, To;
        std::vector<int> Order;
    } Cases[] = {{0, 2, {1, 2, 0, 3}}, {3, 1, {0, 3, 1, 2}}, {1, -5, {1, 0, 2, 3}}, {0, 9, {1, 2, 3, 0}}};
    for (const auto& C : Cases) {
        Window->Edits().Clear(Rows());
        Add({"ff_pal.mpg", "ff_pal_b.mpg", "mplex_vcd.mpg", "mplex_vcd_b.mpg"});
        QStringList Before, Expected;
        for (int I = 0; I < 4; ++I)
            Before << Caption(I);
        for (int I : C.Order)
            Expected << Before[I];
        Window->Edits().Move({C.From}, C.To);
        QStringList After;
        for (int I = 0; I < 4; ++I)
            After << Caption(I);
        EXPECT_EQ(After, Expected) << C.From << " to " << C.To;
        EXPECT_EQ(Caption(SelectedRow()), Before[C.From]);
    }
}

TEST_F(MainWindowTest, MovingToItsOwnIndexChangesNothing)
{
    Add({"ff_pal.mpg", "ff_vcd.mpg"});
    Select(0);
    Window->Edits().Move({1}, 1);
    EXPECT_EQ(SelectedRow(), 0);
    EXPECT_EQ(Caption(1), S("ff_vcd.mpg"));
}

TEST_F(MainWindowTest, StatusesFollowRowZero)
{
    Add({"ff_pal.mpg", "ff_vcd.mpg", "ff_small.mpg"});
    Select(2);
    Action("acnMoveUp")->trigger(); // row 2 to 1: row 0 stays
    EXPECT_EQ(Statuses(), QStringList({"OK", "Video Differ", "Video Differ"}));
    Select(0);
    Action("acnMoveDown")->trigger(); // ff_pal leaves row 0
    EXPECT_EQ(Caption(0), S("ff_small.mpg"));
    EXPECT_EQ(Statuses(), QStringList({"OK", "Video Differ", "Video Differ"}));
    EXPECT_EQ(SelectedRow(), 1);
}

TEST_F(MainWindowTest, MoveUpOnTheFirstAndDownOnTheLastDoNothing)
{
    Add({"ff_pal.mpg", "ff_vcd.mpg"});
    Select(0);
    EXPECT_FALSE(Action("acnMoveUp")->isEnabled());
    Action("acnMoveUp")->trigger();
    Select(1);
    Action("acnMoveDown")->trigger();
    EXPECT_EQ(Caption(0), S("ff_pal.mpg"));
    EXPECT_EQ(Caption(1), S("ff_vcd.mpg"));
}

TEST_F(MainWindowTest, DeletingRows)
{
    Add({"ff_pal.mpg", "ff_vcd.mpg", "ff_vcd.mpg"});
    Select(0);
    Action("acnDelete")->trigger(); // the NTSC file becomes the reference
    EXPECT_EQ(Statuses(), QStringList({"OK", "OK"}));
    EXPECT_EQ(SelectedRow(), 0);
    Select(1);
    Action("acnDelete")->trigger(); // the last row: the new last is selected
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(SelectedRow(), 0);
    Action("acnDelete")->trigger();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(SelectedRow(), -1);
    EXPECT_EQ(Panel(0)->text(), "There are no selected files.");
    EXPECT_TRUE(Messages.empty()); // no question
}

// Undo and Redo go back and forth through every change of the list, and
// bring back the selection and the current row with the rows.
TEST_F(MainWindowTest, UndoAndRedoGoThroughEveryChange)
{
    EXPECT_EQ(Action("acnUndo")->shortcut(), QKeySequence(QKeySequence::Undo));
    EXPECT_EQ(Action("acnRedo")->shortcuts(),
              QList<QKeySequence>({QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")}));
    EXPECT_FALSE(Action("acnUndo")->isEnabled());
    const auto State = [this] {
        QStringList Names;
        for (int I = 0; I < Rows(); ++I)
            Names << QFileInfo(Caption(I)).fileName();
        QStringList Selected;
        for (const int Row : List()->SelectedRows())
            Selected << QString::number(Row);
        return (Names.join(' ') + " | " + Selected.join(' ') + " | " +
                QString::number(List()->currentIndex().row()))
            .toStdString();
    };
    const auto Extend = [this](int Row) {
        List()->selectionModel()->select(List()->Model().index(Row, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    // Each change: how the user picks the rows, then the command.
    const std::pair<std::function<void()>, std::function<void()>> Changes[] = {
        {[] {},
         [&] {
             Add({"ff_pal.mpg", "ff_pal_b.mpg", "ff_vcd.mpg", "ff_small.mpg"});
         }},
        {[&] { Select(3); }, [&] { Action("acnMoveUp")->trigger(); }},
        {[] {}, [&] { Action("acnMoveUp")->trigger(); }},
        {[] {}, [&] { Action("acnMoveUp")->trigger(); }},
        {[&] { Select(1), Extend(2); }, [&] { Action("acnDelete")->trigger(); }},
        {[&] { List()->clearSelection(); }, [&] { Add({"ff_pal_mono48.mpg"}); }},
        {[] {}, [&] { Answers = {TMessageAnswer::Yes}, Action("acnClear")->trigger(); }},
    };
    std::vector<std::string> Before, After;
    for (const auto& [Pick, Command] : Changes) {
        Pick();
        Before.push_back(State());
        Command();
        After.push_back(State());
        ASSERT_NE(After.back(), Before.back());
    }
    // Ctrl+Z back to the empty list, one change at a time, then Ctrl+Y
    // forward again: each step shows what it showed then.
    Activate();
    for (std::size_t I = std::size(Changes); I-- > 0;) {
        ASSERT_TRUE(Action("acnUndo")->isEnabled()) << I;
        QTest::keyClick(Window.get(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(State(), Before[I]) << I;
    }
    EXPECT_FALSE(Action("acnUndo")->isEnabled());
    for (std::size_t I = 0; I < std::size(Changes); ++I) {
        ASSERT_TRUE(Action("acnRedo")->isEnabled()) << I;
        QTest::keyClick(Window.get(), I % 2 ? Qt::Key_Y : Qt::Key_Z,
                        I % 2 ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(State(), After[I]) << I;
    }
    EXPECT_FALSE(Action("acnRedo")->isEnabled());
    // A new change after an undo drops what could have been redone.
    Action("acnUndo")->trigger();
    Select(0), Action("acnDelete")->trigger();
    EXPECT_FALSE(Action("acnRedo")->isEnabled());
}

TEST_F(MainWindowTest, ClearAsksFirst)
{
    Add({"ff_pal.mpg", "ff_vcd.mpg"});
    Answers = {TMessageAnswer::No};
    Action("acnClear")->trigger();
    EXPECT_EQ(Rows(), 2);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text, "Are you sure you want to remove all files from the list?");
    EXPECT_EQ(Messages[0].Kind, TMessageKind::Confirmation);
    Answers = {TMessageAnswer::Yes};
    Action("acnClear")->trigger();
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(Action("acnJoinFile")->isEnabled());
}

TEST_F(MainWindowTest, EnablingAndStatusBarFollowTheSelection)
{
    Add({"ff_pal.mpg"});
    List()->clearSelection();
    EXPECT_EQ(Panel(0)->text(), "There are no selected files.");
    EXPECT_EQ(Panel(1)->text(), "1 file, 0:00:02.01");
    Select(0);
    const std::map<std::string, bool> OneSelected = {
        {"acnAddFiles", true},  {"acnJoinFile", true}, {"acnPlay", true}, {"acnMoveUp", false},
        {"acnMoveDown", false}, {"acnDelete", true},   {"acnClear", true}};
    EXPECT_EQ(Enabled(), OneSelected);
    EXPECT_EQ(Panel(0)->text(), "ff_pal.mpg");
    Add({"ff_pal.mpg", "ff_pal.mpg"});
    Select(1);
    EXPECT_TRUE(Action("acnMoveUp")->isEnabled());
    EXPECT_TRUE(Action("acnMoveDown")->isEnabled());
    List()->clearSelection();
    // The count is said once, beside the playing time; sizes in powers of ten.
    EXPECT_EQ(Panel(0)->text(), "There are no selected files.");
    EXPECT_EQ(Panel(1)->text(), "3 files, 0:00:06.03");
    EXPECT_EQ(Panel(2)->text(), "528.4 kB"); // 3 x 176128 bytes
    const QFontMetrics Metrics(Window->statusBar()->font());
    EXPECT_EQ(Panel(2)->width(), std::max(50, Metrics.horizontalAdvance("528.4 kB") + 10));
}

TEST_F(MainWindowTest, KeysOfTheCommands)
{
    Add({"ff_pal.mpg", "ff_vcd.mpg", "ff_small.mpg"});
    Activate();
    Select(2);
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Caption(1), S("ff_small.mpg"));
    EXPECT_EQ(SelectedRow(), 1);
    QTest::keyClick(List(), Qt::Key_Return);
    EXPECT_EQ(Opened, QStringList{S("ff_small.mpg")});
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_EQ(Rows(), 2);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(MainWindowTest, PlayOpensTheSelectedFile)
{
    Add({"ff_pal.mpg"});
    List()->clearSelection();
    const QModelIndex Row0 = List()->Model().index(0, 0);
    emit List()->doubleClicked(Row0); // nothing selected
    EXPECT_TRUE(Opened.isEmpty());
    Select(0);
    emit List()->doubleClicked(Row0);
    Action("acnPlay")->trigger();
    EXPECT_EQ(Opened, QStringList({S("ff_pal.mpg"), S("ff_pal.mpg")}));
}

TEST_F(MainWindowTest, HelpTopicsOpensTheManual)
{
    Action("miHelpTopics")->trigger();
    ASSERT_EQ(Opened.size(), 1);
    EXPECT_TRUE(Opened[0].endsWith("/manual.html"));
}

TEST_F(MainWindowTest, DraggingARowOntoAnotherMovesIt)
{
    Add({"ff_pal.mpg", "ff_pal_b.mpg", "mplex_vcd.mpg"});
    Select(0);
    auto* View = List();
    View->SetDropTarget(2);
    List()->MoveToDropTarget(); // wherever it ended, even outside the list
    EXPECT_EQ(Caption(2), S("ff_pal.mpg"));
    // Without a recorded target nothing moves.
    List()->MoveToDropTarget();
    EXPECT_EQ(Caption(2), S("ff_pal.mpg"));
    // A recorded target that is moved away by a command is forgotten.
    View->SetDropTarget(1);
    Select(1);
    Action("acnMoveUp")->trigger();
    const QString Top = Caption(0);
    Select(2);
    List()->MoveToDropTarget();
    EXPECT_EQ(Caption(0), Top);
    EXPECT_EQ(Caption(2), S("ff_pal.mpg"));
}

TEST_F(MainWindowTest, DroppedFilesAreAddedSortedWithoutFolders)
{
    const std::string B = Dir.File("b.mpg"), A = Dir.File("A.mpg");
    WriteFile(B, ReadFile(Stream("ff_pal.mpg")));
    WriteFile(A, ReadFile(Stream("ff_pal.mpg")));
    QMimeData Drop;
    Drop.setUrls({QUrl::fromLocalFile(QString::fromStdString(B)),
                  QUrl::fromLocalFile(QString::fromStdString(Dir.Path())),
                  QUrl::fromLocalFile(QString::fromStdString(A))});
    Window->WMDropFiles(Drop);
    Settle();
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Caption(0), QString::fromStdString(A));
    EXPECT_EQ(Caption(1), QString::fromStdString(B));
    EXPECT_EQ(Window->LastOpenFolder(), "");
    EXPECT_TRUE(Action("acnClear")->isEnabled());
}

TEST_F(MainWindowTest, AddFilesDialogSortsAndRemembersTheFolder)
{
    TFileCommonDialog::SetNextAnswer(QStringList{});
    Action("acnAddFiles")->trigger();
    Settle();
    EXPECT_EQ(Window->LastOpenFolder(), "");

    const QString Folder = QString::fromStdString(Dir.Path());
    // Numbered as cameras number them: by value, then by letter, any case.
    const QStringList Sorted = {"A.mpg", "b.mpg", "clip2.mpg", "Clip10.mpg", "clip11.mpg"};
    QStringList Chosen;
    for (const int I : {3, 0, 4, 2, 1}) {
        WriteFile(Dir.File(Sorted[I].toStdString()), ReadFile(Stream("ff_pal.mpg")));
        Chosen << Folder + "/" + Sorted[I];
    }
    TFileCommonDialog::SetNextAnswer(Chosen);
    Action("acnAddFiles")->trigger();
    Settle();
    EXPECT_EQ(Window->LastOpenFolder(), Folder);
    ASSERT_EQ(Rows(), 5);
    for (int I = 0; I < 5; ++I)
        EXPECT_EQ(Caption(I), Folder + "/" + Sorted[I]);
}

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

TEST_F(MainWindowTest, SettingsAreSavedAtExitAndRestored)
{
    Add({"ff_pal.mpg"});
    TFileCommonDialog::SetNextAnswer(QStringList{S("ff_pal.mpg")});
    Action("acnAddFiles")->trigger();
    Settle();
    Action("miRecalcTimecodes")->trigger();
    EXPECT_FALSE(Action("miRecalcTimecodes")->isChecked());
    Window->setGeometry(50, 60, 600, 420);
    Window->close();

    auto Next = MakeWindow();
    EXPECT_EQ(Next->LastOpenFolder(), FolderOf(S("ff_pal.mpg")));
    EXPECT_EQ(Next->LastSaveFolder(), "");
    EXPECT_FALSE(Next->findChild<QAction*>("miRecalcTimecodes")->isChecked());
    EXPECT_EQ(Next->geometry(), QRect(50, 60, 600, 420));
    EXPECT_EQ(Next->FileList()->Count(), 0);
}

TEST_F(MainWindowTest, EachDamagedSettingFallsBackAloneAndIsNamed)
{
    QSettings Store(QSettings::NativeFormat, QSettings::UserScope, "zentrova", "vantrel");
    Store.setValue("RecalcTimecodes", 0);
    Store.setValue("forms/frmMain/Width", "wide");
    Store.setValue("forms/frmMain/Height", 400);
    Store.sync();
    auto Next = MakeWindow();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(Messages[0].Text.startsWith("Some settings could not be read; they were set back to their "
                                            "defaults:\r\nInvalid data type for 'Width'\r\nSettings file: "))
        << Messages[0].Text.toStdString();
    EXPECT_TRUE(Messages[0].Text.endsWith(Store.fileName()));
    // The others load as stored, and go back unchanged.
    EXPECT_FALSE(Next->findChild<QAction*>("miRecalcTimecodes")->isChecked());
    EXPECT_EQ(Next->height(), 400);
    EXPECT_EQ(Next->width(), TfrmMain::DesignWidth);
    Next->close();
    Store.sync();
    EXPECT_EQ(Store.value("RecalcTimecodes").toInt(), 0);
    EXPECT_EQ(Store.value("forms/frmMain/Width").toInt(), TfrmMain::DesignWidth);
}

TEST_F(MainWindowTest, TheStatusBarKeepsItsPanelsWithALongName)
{
    const std::string Long = Dir.File(std::string(150, 'n') + ".mpg");
    WriteFile(Long, ReadFile(Stream("ff_pal.mpg")));
    Window->resize(600, 354);
    Window->show();
    Window->OpenFiles({QString::fromStdString(Long)});
    Settle();
    ASSERT_EQ(SelectedRow(), 0); // what was added is selected
    // The three panels fit the bar; the name is elided, whole in the tip.
    EXPECT_LE(Panel(0)->width() + Panel(1)->width() + Panel(2)->width(), Window->statusBar()->width());
    EXPECT_TRUE(Panel(0)->text().contains(QChar(0x2026))) << Panel(0)->text().toStdString();
    EXPECT_EQ(Panel(0)->toolTip(), QFileInfo(QString::fromStdString(Long)).fileName());
    EXPECT_EQ(Panel(1)->text(), "1 file, 0:00:02.01");
    // A command's hint shows in the first panel only.
    QStatusTipEvent Tip("Join Files");
    QApplication::sendEvent(Window.get(), &Tip);
    EXPECT_EQ(Panel(0)->text(), "Join Files");
    EXPECT_EQ(Panel(1)->text(), "1 file, 0:00:02.01");
    EXPECT_TRUE(Panel(1)->isVisible());
    QStatusTipEvent Gone("");
    QApplication::sendEvent(Window.get(), &Gone);
    EXPECT_TRUE(Panel(0)->text().contains(QChar(0x2026)));
}

TEST_F(MainWindowTest, FilesFromTheCommandLineAreAddedAsADropWould)
{
    const std::string B = Dir.File("b.mpg"), A = Dir.File("a.mpg");
    WriteFile(B, ReadFile(Stream("ff_pal.mpg")));
    WriteFile(A, ReadFile(Stream("ff_pal_b.mpg")));
    Window->OpenFiles({QString::fromStdString(B), QString::fromStdString(Dir.Path()),
                       QString::fromStdString(Dir.File("missing.mpg")), QString::fromStdString(A)});
    Settle();
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Caption(0), QString::fromStdString(A));
    EXPECT_EQ(SelectedRow(), 0);
    EXPECT_TRUE(Action("acnDelete")->isEnabled());
    // What could not be added is said once, every name in one message.
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text, "These names are not files, and were not added:\r\n" +
                                    QString::fromStdString(Dir.Path()) + "\r\n" +
                                    QString::fromStdString(Dir.File("missing.mpg")));

    // A file deleted while listed shows it when the window is next active.
    std::filesystem::rename(B, B + ".away");
    QEvent Activate(QEvent::WindowActivate);
    QApplication::sendEvent(Window.get(), &Activate);
    EXPECT_EQ(Status(1), "Missing");
    std::filesystem::rename(B + ".away", B);
    QApplication::sendEvent(Window.get(), &Activate);
    EXPECT_EQ(Status(1), "OK");
}

TEST_F(MainWindowTest, MenusHaveMnemonics)
{
    QStringList Titles;
    for (QAction* Menu : Window->menuBar()->actions())
        Titles << Menu->text();
    EXPECT_EQ(Titles, QStringList({"&File", "&Edit", "&Help"}));
    // Every item of every menu, the list's own included, has a key of its
    // own within its menu.
    QList<QMenu*> Menus = Window->findChildren<QMenu*>();
    ASSERT_GE(Menus.size(), 4);
    for (const QMenu* Menu : Menus) {
        QSet<QChar> Keys;
        for (const QAction* Item : Menu->actions()) {
            if (Item->isSeparator())
                continue;
            const QString Text = Item->text();
            const qsizetype At = Text.indexOf('&');
            ASSERT_TRUE(At >= 0 && At + 1 < Text.size()) << Text.toStdString();
            const QChar Key = Text[At + 1].toLower();
            EXPECT_FALSE(Keys.contains(Key))
                << Menu->objectName().toStdString() << ": " << Text.toStdString();
            Keys.insert(Key);
        }
    }
}

// Shift+F10 and the Menu key open the list's menu at the current row.
TEST_F(MainWindowTest, TheKeyboardOpensTheListsMenu)
{
    Add({"ff_pal.mpg", "ff_pal_b.mpg"});
    Select(1);
    for (const auto& [Key, Modifiers] :
         {std::pair{Qt::Key_F10, Qt::ShiftModifier}, {Qt::Key_Menu, Qt::NoModifier}}) {
        std::optional<QPoint> At;
        const auto Connection = QObject::connect(List(), &QWidget::customContextMenuRequested,
                                                 [&](const QPoint& Point) { At = Point; });
        QTest::keyClick(List(), Key, Modifiers);
        QObject::disconnect(Connection);
        ASSERT_TRUE(At) << Key;
        EXPECT_TRUE(List()->visualRect(List()->Model().index(1, 0)).contains(*At)) << Key;
    }
    QApplication::processEvents();
    if (QWidget* Popup = QApplication::activePopupWidget())
        Popup->close();
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

TEST_F(MainWindowTest, ADroppedFifoIsRefusedWithItsReason)
{
    const std::string Fifo = Dir.File("fifo.mpg");
    ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
    QMimeData Drop;
    Drop.setUrls({QUrl::fromLocalFile(QString::fromStdString(Fifo))});
    Window->WMDropFiles(Drop);
    Settle();
    EXPECT_EQ(Rows(), 0);
    ASSERT_EQ(Messages.size(), 1u);
    // The only file: nothing is left to go on with, so nothing is asked.
    EXPECT_EQ(Messages[0].Text, "Unable to add file " + QString::fromStdString(Fifo) + ": " +
                                    QString::fromStdString(Fifo) + " is not a regular file.");
    EXPECT_EQ(Messages[0].Buttons, TMessageButtons::Ok);
}

} // namespace
} // namespace vantrel
