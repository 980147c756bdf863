#include "ui/ProgressDlg.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

class ProgressDialogTest : public ::testing::Test
{
protected:
    ProgressDialogTest() : Dialog(&Owner, [this] { return Now; }) { Owner.show(); }
    QString TimeText() const { return Dialog.findChild<QLabel*>("lblTime")->text(); }
    int Bar() const { return Dialog.findChild<QProgressBar*>("ProgressBar")->value(); }

    std::int64_t Now = 1'000'000;
    QWidget Owner;
    TfrmProgress Dialog;
};

TEST_F(ProgressDialogTest, DesignAfterCreation)
{
    EXPECT_EQ(Dialog.windowTitle(), "Processing...");
    EXPECT_FALSE(Dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(Dialog.windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(Dialog.findChild<QLabel*>("lblText")->text(), "");
    EXPECT_EQ(TimeText(), "");
    EXPECT_FALSE(Dialog.findChild<QPushButton*>("btnMinimize")->isVisibleTo(&Dialog));
    EXPECT_EQ(Dialog.findChild<QPushButton*>("btnCancel")->text(), "&Cancel");
    EXPECT_FALSE(Dialog.isModal());
}

// The time left is the time so far at the same pace, once the pace is steady.
TEST(TimeLeft, FromThePaceSoFar)
{
    const struct
    {
        std::int64_t ElapsedMs;
        std::int32_t Position;
        const char* Text;
    } Cases[] = {
        {11'000, 62, "about 0:00:07 left"}, // 11 s x 38 / 62 = 6.7 s
        {2'000, 50, "about 0:00:02 left"},
        {60'000, 3, "about 0:32:20 left"},
        {1'999, 50, ""}, // too soon to tell
        {30'000, 2, ""},
        {30'000, 100, ""}, // done
        {30'000, 120, ""},
        {7'200'000, 50, "about 2:00:00 left"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(TimeLeftText(C.ElapsedMs, C.Position), C.Text) << C.ElapsedMs << " " << C.Position;
}

// The dialog shows it as the bar moves, from the time it was shown.
TEST_F(ProgressDialogTest, ShowsTheTimeLeftOnceSteady)
{
    Dialog.Show();
    Now += 1'000;
    Dialog.SetPosition(10);
    EXPECT_EQ(Bar(), 10);
    EXPECT_EQ(TimeText(), "");
    Now += 10'000;
    Dialog.SetPosition(62);
    EXPECT_EQ(TimeText(), "about 0:00:07 left");
    Now += 5'000;
    Dialog.SetPosition(62); // an unchanged position changes nothing
    EXPECT_EQ(TimeText(), "about 0:00:07 left");
}

TEST_F(ProgressDialogTest, PositionAboveAHundredShowsAFullBar)
{
    Dialog.Show();
    Dialog.SetPosition(120);
    EXPECT_EQ(Bar(), 100);
}

TEST_F(ProgressDialogTest, CancelKeepsTheDialogAndIsSeenAtTheNextPoll)
{
    Dialog.Show();
    Dialog.SetPosition(30);
    EXPECT_FALSE(Dialog.IsCancelled());
    QTest::mouseClick(Dialog.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    EXPECT_TRUE(Dialog.isVisible());
    EXPECT_EQ(Bar(), 30);
    EXPECT_TRUE(Dialog.IsCancelled());
}

// Esc, the mnemonic, and the button reached with Tab all cancel; the dialog
// stays until the work has stopped.
TEST_F(ProgressDialogTest, TheKeyboardCancels)
{
    const std::function<void(TfrmProgress&)> Presses[] = {
        [](TfrmProgress& D) { QTest::keyClick(&D, Qt::Key_Escape); },
        [](TfrmProgress& D) { QTest::keyClick(&D, Qt::Key_C, Qt::AltModifier); },
        [](TfrmProgress& D) {
            QTest::keyClick(&D, Qt::Key_Tab);
            ASSERT_EQ(D.focusWidget(), D.findChild<QPushButton*>("btnCancel"));
            QTest::keyClick(D.focusWidget(), Qt::Key_Space);
        },
    };
    for (std::size_t I = 0; I < std::size(Presses); ++I) {
        const auto& Press = Presses[I];
        TfrmProgress D(&Owner, [this] { return Now; });
        D.Show();
        QApplication::setActiveWindow(&D);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&D));
        EXPECT_FALSE(D.IsCancelled());
        Press(D);
        QTest::qWait(200); // a mnemonic presses its button as a click shown on screen
        EXPECT_TRUE(D.isVisible()) << I;
        EXPECT_TRUE(D.IsCancelled()) << I;
    }
}

// The file under way, and the time since the work began.
TEST_F(ProgressDialogTest, ShowsTheFileAndTheTimeSoFar)
{
    Dialog.Show();
    Dialog.SetCurrentFile("/videos/clip2.mpg", 1, 5);
    EXPECT_EQ(Dialog.findChild<QLabel*>("lblFile")->text(), "File 2 of 5: clip2.mpg");
    Now += 75'000;
    Dialog.IsCancelled();
    EXPECT_EQ(Dialog.findChild<QLabel*>("lblElapsed")->text(), "0:01:15 elapsed");
}

TEST_F(ProgressDialogTest, CloseRequestCancelsAndHides)
{
    Dialog.Show();
    EXPECT_FALSE(Owner.isEnabled());
    Dialog.close();
    EXPECT_FALSE(Dialog.isVisible());
    EXPECT_TRUE(Owner.isEnabled());
    EXPECT_TRUE(Dialog.IsCancelled());
}

TEST_F(ProgressDialogTest, PollDeliversPendingEvents)
{
    Dialog.Show();
    bool Delivered = false;
    QTimer::singleShot(0, [&] { Delivered = true; });
    Dialog.IsCancelled();
    EXPECT_TRUE(Delivered);
    // Within the pump interval the poll does not pump again...
    bool Again = false;
    QTimer::singleShot(0, [&] { Again = true; });
    Dialog.IsCancelled();
    EXPECT_FALSE(Again);
    // ...after it, it does.
    Now += TfrmProgress::PumpIntervalMs;
    Dialog.IsCancelled();
    EXPECT_TRUE(Again);
}

TEST(ProgressDialogWindows, OtherWindowsAreDisabledWhileShown)
{
    QWidget Main, Other, Hidden, AlreadyDisabled;
    Main.show();
    Other.show();
    AlreadyDisabled.show();
    AlreadyDisabled.setEnabled(false);
    auto Gone = std::make_unique<QWidget>();
    Gone->show();
    {
        TfrmProgress Dialog(&Main);
        Dialog.Show();
        EXPECT_FALSE(Main.isEnabled());
        EXPECT_FALSE(Other.isEnabled());
        EXPECT_FALSE(Gone->isEnabled());
        EXPECT_TRUE(Dialog.isEnabled());
        Gone.reset(); // a window that goes away meanwhile
    }
    EXPECT_TRUE(Main.isEnabled());
    EXPECT_TRUE(Other.isEnabled());
    EXPECT_TRUE(Hidden.isEnabled());
    EXPECT_FALSE(AlreadyDisabled.isEnabled()); // it was not ours to enable
}

TEST(ProgressDialogWindows, SecondHideEnablesNothing)
{
    QWidget Main;
    Main.show();
    TfrmProgress Dialog(&Main);
    Dialog.Show();
    Dialog.hide();
    EXPECT_TRUE(Main.isEnabled());
    Main.setEnabled(false);
    Dialog.hide();
    EXPECT_FALSE(Main.isEnabled());
}

} // namespace
} // namespace vantrel
