#include "ui/About.h"
#include "ui/ShellUtils.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

class AboutBoxTest : public ::testing::Test
{
protected:
    AboutBoxTest()
    {
        SetShellOpenHandler([this](const QString& Target) { Opened << Target; });
    }
    ~AboutBoxTest() override { SetShellOpenHandler({}); }
    QStringList Opened;
    TProductInfo Info;
};

TEST_F(AboutBoxTest, ProductLineFitsItsBox)
{
    TAboutForm Box(Info, nullptr);
    auto* Product = Box.findChild<QLabel*>("lblProduct");
    EXPECT_EQ(Product->text(), "Vantrel " VANTREL_VERSION);
    EXPECT_TRUE(Product->font().bold());
    EXPECT_TRUE(Product->font().underline());
    EXPECT_LE(Product->font().pixelSize(), TAboutForm::ProductPixelSize);
    const QSize Size = QFontMetrics(Product->font()).size(Qt::TextSingleLine, Product->text());
    EXPECT_LE(Size.width(), 260);
    EXPECT_LE(Size.height(), 27);
}

// A large desktop font and a dark theme: every text shows whole, and the
// addresses take the theme's link colour.
TEST_F(AboutBoxTest, GrowsWithTheFontAndFollowsThePalette)
{
    const QFont Before = QApplication::font();
    const QPalette Colours = QApplication::palette();
    QFont Large = Before;
    Large.setPointSize(18);
    QApplication::setFont(Large);
    QPalette Dark(QColor(40, 40, 40));
    Dark.setColor(QPalette::Link, QColor(120, 180, 255));
    QApplication::setPalette(Dark);
    {
        TAboutForm Box(Info, nullptr);
        Box.show();
        for (QLabel* Label : Box.findChildren<QLabel*>()) {
            if (Label->text().isEmpty())
                continue;
            EXPECT_GE(Label->width(), Label->sizeHint().width()) << Label->text().toStdString();
            EXPECT_TRUE(Box.rect().contains(Label->geometry())) << Label->text().toStdString();
        }
        for (const char* Name : {"lblMail", "lblSite"}) {
            const QLabel* Link = Box.findChild<QLabel*>(Name);
            EXPECT_EQ(Link->palette().color(Link->foregroundRole()), QColor(120, 180, 255)) << Name;
        }
    }
    QApplication::setFont(Before);
    QApplication::setPalette(Colours);
}

TEST_F(AboutBoxTest, TextThatCanNeverFitStopsAtTheFloor)
{
    Info.ProductName = QString(200, 'W');
    TAboutForm Box(Info, nullptr);
    EXPECT_EQ(Box.findChild<QLabel*>("lblProduct")->font().pixelSize(), TAboutForm::MinProductPixelSize);
}

TEST_F(AboutBoxTest, AddressesOpenInTheShellAndTheBoxStays)
{
    TAboutForm Box(Info, nullptr);
    Box.show();
    QTest::mouseClick(Box.findChild<QLabel*>("lblMail"), Qt::LeftButton);
    QTest::mouseClick(Box.findChild<QLabel*>("lblSite"), Qt::LeftButton);
    EXPECT_EQ(Opened, QStringList({Info.Contacts, Info.WebSite}));
    EXPECT_TRUE(Box.isVisible());
    EXPECT_EQ(Box.findChild<QLabel*>("lblCopyright")->text(), Info.Copyright);
}

// Tab reaches each address; its focus frame takes the room kept for it, so
// neither an address nor the box moves as the focus comes and goes.
TEST_F(AboutBoxTest, TheFocusFrameMovesNothing)
{
    TAboutForm Box(Info, nullptr);
    Box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Box));
    QApplication::setActiveWindow(&Box);
    const QList<QLabel*> Links{Box.findChild<QLabel*>("lblMail"), Box.findChild<QLabel*>("lblSite")};
    auto Where = [&] {
        std::vector<std::pair<QSize, QRect>> Places;
        for (const QLabel* Link : Links)
            Places.emplace_back(Link->sizeHint(), Link->contentsRect());
        return Places;
    };
    const auto Before = Where();
    const QSize Size = Box.size();
    for (QLabel* Link : Links) {
        QTest::keyClick(&Box, Qt::Key_Tab);
        ASSERT_TRUE(Link->hasFocus()) << Link->text().toStdString();
        EXPECT_NE(Link->frameStyle(), QFrame::NoFrame);
        EXPECT_EQ(Where(), Before) << Link->text().toStdString();
        EXPECT_EQ(Box.size(), Size);
    }
}

TEST_F(AboutBoxTest, EnterEscapeAndCloseAllClose)
{
    const std::function<void(TAboutForm&)> Ways[] = {
        [](TAboutForm& Box) { QTest::keyClick(&Box, Qt::Key_Return); },
        [](TAboutForm& Box) { QTest::keyClick(&Box, Qt::Key_Escape); },
        [](TAboutForm& Box) { QTest::mouseClick(Box.findChild<QPushButton*>("btnClose"), Qt::LeftButton); },
        [](TAboutForm& Box) { Box.close(); },
    };
    for (const auto& Way : Ways) {
        TAboutForm Box(Info, nullptr);
        Box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Box));
        Way(Box);
        EXPECT_FALSE(Box.isVisible());
    }
}

TEST_F(AboutBoxTest, ShowAboutBoxIsModalAndReturnsWhenClosed)
{
    // Closed as soon as it is up, however long a slow (sanitized) build takes.
    QTimer Poll;
    QObject::connect(&Poll, &QTimer::timeout, [] {
        if (auto* Box = qobject_cast<TAboutForm*>(QApplication::activeModalWidget()))
            Box->findChild<QPushButton*>("btnClose")->click();
    });
    Poll.start(20);
    ShowAboutBox(Info, nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
} // namespace vantrel
