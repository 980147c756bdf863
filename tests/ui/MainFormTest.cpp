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
