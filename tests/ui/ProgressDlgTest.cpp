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

TEST_F(ProgressDialogTest, FirstChangeOnlyStartsTheClock)
{
    Dialog.Show();
    Dialog.SetPosition(10);
    EXPECT_EQ(Bar(), 10);
    EXPECT_EQ(TimeText(), "");
    Now += 2000;
    Dialog.SetPosition(40);
    EXPECT_EQ(TimeText(), "2 minutes remaining");
}

// The texts themselves are the estimate's, tested with it.
TEST_F(ProgressDialogTest, ShowsTheEstimate)
{
    Dialog.Show();
    Dialog.SetPosition(1);
    Now += 59500;
    Dialog.SetPosition(99);
    EXPECT_EQ(TimeText(), "1 minute remaining");
}

TEST_F(ProgressDialogTest, ChangesASecondApartOrLessKeepTheText)
{
    Dialog.Show();
    Dialog.SetPosition(1);
    Now += 1000;
    Dialog.SetPosition(2);
    EXPECT_EQ(TimeText(), "");
}

TEST_F(ProgressDialogTest, UnchangedPositionChangesNothing)
{
    Dialog.Show();
    Dialog.SetPosition(0); // the position after show
    Now += 5000;
    Dialog.SetPosition(50); // so this is the first sample
    EXPECT_EQ(TimeText(), "");
    Now += 5000;
    Dialog.SetPosition(50);
    EXPECT_EQ(TimeText(), "");
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
