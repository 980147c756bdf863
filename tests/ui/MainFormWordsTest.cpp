// What the window says and shows where a user trips: undo, a missing file,
// no browser, statuses that stand out, settings, an About box used from
// the keyboard, small screens.
#include "MainWindowTest.h"
#include "ui/About.h"
#include "ui/JoinFlow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <filesystem>

namespace vantrel {
namespace {

using namespace test;

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

TEST_F(MainWindowTest, PlayOnAMissingFileSaysItIsMissing)
{
    const std::string Clip = Dir.File("clip.mpg");
    WriteFile(Clip, ReadFile(Stream("ff_pal.mpg")));
    Window->AddFiles({QString::fromStdString(Clip)});
    Settle();
    std::filesystem::remove(Clip);
    Select(0);
    Action("acnPlay")->trigger();
    EXPECT_TRUE(Opened.isEmpty());
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text, "The file " + QString::fromStdString(Clip) +
                                    " is missing: it was moved or deleted after it was added.");
    EXPECT_EQ(Status(0), "Missing");

    // A join names it before the save dialog, which is not shown.
    Messages.clear();
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("out.mpg"))});
    Action("acnJoinFile")->trigger();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(Messages[0].Text.startsWith("The file " + QString::fromStdString(Clip) + " is missing"));
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
}

// A file probed again (it changed since it was added) shows its new totals
// in the status bar at once.
TEST_F(MainWindowTest, TheTotalsFollowAFileProbedAgain)
{
    const std::string Clip = Dir.File("clip.mpg");
    WriteFile(Clip, ReadFile(Stream("ff_pal.mpg")));
    Window->AddFiles({QString::fromStdString(Clip)});
    Settle();
    EXPECT_EQ(Panel(1)->text(), "1 file, 0:00:02.01");
    WriteFile(Clip, ReadFile(Stream("ff_pal_mono48.mpg")));
    ProbeAgain(List()->Model(), 0);
    EXPECT_EQ(Panel(1)->text(), "1 file, 0:00:02.02");
    EXPECT_EQ(Panel(2)->text(), DesktopSizeText(ReadFile(Clip).size()));
}

// F1 on a desktop without a browser says where the manual is.
TEST_F(MainWindowTest, HelpWithoutABrowserSaysHowToReadTheManual)
{
    TTempDir Empty;
    std::vector<std::pair<const char*, QByteArray>> Saved;
    for (const char* Name :
         {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS", "PATH", "BROWSER"}) {
        Saved.emplace_back(Name, qgetenv(Name));
        qputenv(Name, Name == std::string("BROWSER") ? QByteArray() : QByteArray(Empty.Path().c_str()));
    }
    SetShellOpenHandler({});
    Action("miHelpTopics")->trigger();
    SetShellOpenHandler([this](const QString& Target) { Opened << Target; });
    for (const auto& [Name, Value] : Saved)
        qputenv(Name, Value);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(Messages[0].Text.startsWith("No web browser is set up to show the manual. Open the file "));
    EXPECT_TRUE(Messages[0].Text.contains("/manual.html in a web browser"));
    EXPECT_TRUE(Messages[0].Text.endsWith("man vantrel"));
}

// Rows that cannot be joined as they are carry a sign, not only a word:
// the stop sign where the video differs or the file is gone, the warning
// sign where only the sound differs.
TEST_F(MainWindowTest, StatusesThatAreNotOkCarryAnIcon)
{
    const std::string Gone = Dir.File("gone.mpg");
    WriteFile(Gone, ReadFile(Stream("ff_pal.mpg")));
    Add({"ff_pal.mpg", "ff_pal_b.mpg", "ff_vcd.mpg", "ff_pal_mono48.mpg"});
    Window->AddFiles({QString::fromStdString(Gone)});
    Settle();
    std::filesystem::remove(Gone);
    MarkMissingFiles(List()->Model());
    const auto Icon = [this](int Row) {
        return List()->Model().data(List()->Model().index(Row, lcStatus), Qt::DecorationRole);
    };
    const auto Is = [](const QVariant& Icon, QStyle::StandardPixmap Which) {
        return Icon.value<QIcon>().pixmap(14).toImage() ==
               QApplication::style()->standardIcon(Which).pixmap(14).toImage();
    };
    EXPECT_FALSE(Icon(0).isValid());
    EXPECT_FALSE(Icon(1).isValid());
    EXPECT_TRUE(Is(Icon(2), QStyle::SP_MessageBoxCritical));
    EXPECT_TRUE(Is(Icon(3), QStyle::SP_MessageBoxWarning));
    EXPECT_EQ(Status(4), "Missing");
    EXPECT_TRUE(Is(Icon(4), QStyle::SP_MessageBoxCritical));
}

// Removing the selection has its own button and menu item; Clear stays apart.
TEST_F(MainWindowTest, RemovingTheSelectionIsNotClearing)
{
    auto* Bar = Window->findChild<QToolBar*>("ToolBar");
    QStringList Buttons;
    for (QAction* Item : Bar->actions())
        Buttons << (Item->isSeparator() ? "|" : Item->objectName());
    EXPECT_EQ(Buttons.join(' '),
              "acnAddFiles acnJoinFile | acnPlay acnMoveUp acnMoveDown | acnDelete acnClear");
    QStringList Edit;
    for (QAction* Item : Window->findChild<QMenu*>("miEdit")->actions())
        Edit << (Item->isSeparator() ? "|" : Item->objectName());
    EXPECT_EQ(Edit.join(' '),
              "acnUndo acnRedo | acnMoveUp acnMoveDown | acnDelete acnClear | miRecalcTimecodes");
    Add({"ff_pal.mpg", "ff_pal_b.mpg"});
    Select(1);
    Window->findChild<QWidget*>("tbnDelete")->setFocus();
    Action("acnDelete")->trigger();
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(MainWindowTest, TheEmptyListNamesTheMenuItemAsItIs)
{
    EXPECT_TRUE(QString(TFileListView::EmptyHint).endsWith("File > Add Files"));
    EXPECT_EQ(Action("acnAddFiles")->text().remove('&'), "Add Files");
}

// Tab reaches both addresses, and Enter opens the one that has the focus.
TEST(AboutBox, TheAddressesCanBeReachedByKeyboard)
{
    QStringList Opened;
    SetShellOpenHandler([&Opened](const QString& Target) { Opened << Target; });
    const TProductInfo Info;
    TAboutForm Box(Info, nullptr);
    Box.show();
    QApplication::setActiveWindow(&Box);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Box));
    ASSERT_EQ(QApplication::focusWidget(), Box.findChild<QWidget*>("btnClose"));
    for (const char* Name : {"lblMail", "lblSite"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Box.findChild<QWidget*>(Name)) << Name;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        ASSERT_TRUE(Box.isVisible()) << Name << " " << Opened.join(',').toStdString();
        ASSERT_NE(QApplication::focusWidget(), nullptr) << Name;
    }
    SetShellOpenHandler({});
    EXPECT_EQ(Opened, QStringList({Info.Contacts, Info.WebSite}));
    EXPECT_TRUE(Box.isVisible());
}

// Every dialog fits the screen's free area: one larger is shrunk, and a box
// with a long list shows its start and the whole list under Details.
TEST(SmallScreens, DialogsFitTheScreen)
{
    const QRect Free = QGuiApplication::primaryScreen()->availableGeometry();
    QDialog Large;
    Large.resize(Free.size() * 2);
    FitOnScreen(Large, nullptr);
    EXPECT_LT(Large.width(), Free.width());
    EXPECT_LT(Large.height(), Free.height());

    QStringList Names;
    for (int I = 0; I < 60; ++I)
        Names << QString("/clips/missing%1.mpg").arg(I);
    QString Shown, Details;
    QTimer::singleShot(0, [&] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(Box, nullptr);
        Shown = Box->text(), Details = Box->detailedText();
        EXPECT_LE(Box->frameGeometry().height(), Free.height());
        Box->button(QMessageBox::Ok)->click();
    });
    RunMessageBox(nullptr, "These names are not files:\r\n" + Names.join("\r\n"), TMessageKind::Warning,
                  TMessageButtons::Ok);
    EXPECT_EQ(Shown.count('\n'), MaxShownLines - 1);
    EXPECT_TRUE(Shown.endsWith("... and 50 more lines: see Details")) << Shown.toStdString();
    EXPECT_EQ(Details, "These names are not files:\n" + Names.join('\n'));
}

} // namespace
} // namespace vantrel
