#include "settings/SettingsStore.h"
#include "io/SysUtils.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vantrel {
namespace {

const TSettingsRoot Root = TSettingsRoot::CurrentUser;
const QString Base = "\\Software\\zentrova\\vantrel";
const QString Placement = Base + "\\forms\\frmTest";

class SettingsTest : public ::testing::Test
{
protected:
    SettingsTest() { Store().clear(); }
    ~SettingsTest() override { Store().clear(); }
    // The test's own view of the store, gone with the test: one kept until
    // the program ends would write its file again after the folder is removed.
    QSettings& Store()
    {
        m_Store.sync();
        return m_Store;
    }
    void Put(const QString& Key, const QVariant& Value)
    {
        Store().setValue(Key, Value);
        Store().sync();
    }
    QVariant Get(const QString& Key)
    {
        Store().sync();
        return Store().value(Key);
    }

private:
    QSettings m_Store{QSettings::NativeFormat, QSettings::UserScope, "zentrova", "vantrel"};
};

std::string ErrorOf(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const Exception& E) {
        return E.what();
    }
    return "";
}

TEST_F(SettingsTest, MissingValuesGiveTheDefaults)
{
    EXPECT_EQ(ReadSettingString(Root, Base, "LastOpenFolder"), "");
    EXPECT_TRUE(ReadSettingBool(Root, Base, "RecalcTimecodes", true));
    EXPECT_FALSE(ReadSettingBool(Root, Base, "RecalcTimecodes", false));
    QWidget Window;
    Window.setGeometry(272, 138, 483, 354);
    LoadFormPlacement(Root, Placement, Window, false);
    // In the middle of the screen's free area, with its frame (a few pixels
    // of edge, a title bar).
    const QRect Free = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(Window.size(), QSize(483, 354));
    EXPECT_NEAR(Window.geometry().center().x(), Free.center().x(), 4);
    EXPECT_GT(Window.y(), Free.top());
    EXPECT_LT(Window.geometry().bottom(), Free.bottom());
    EXPECT_EQ(Window.windowState(), Qt::WindowNoState);
}

// Stored places from another desktop: a window wholly on the screen, its
// frame included, is kept as it was; one partly beside it or larger than it
// is brought wholly onto it; one off every screen (an unplugged monitor, a
// damaged file's 90000) opens in the middle, as with nothing stored.
TEST_F(SettingsTest, APlacementOffTheScreenIsBroughtBack)
{
    const QRect Free = QGuiApplication::primaryScreen()->availableGeometry();
    const struct
    {
        QRect Stored;
        bool Kept;
    } Cases[] = {
        {{Free.left() + 40, Free.top() + 60, 400, 300}, true},
        {{Free.left() - 100, Free.top() + 60, 400, 300}, false},   // partly left of the screen
        {{Free.right() - 100, Free.top() + 60, 400, 300}, false},  // partly right of it
        {{Free.right() + 2000, Free.top() + 60, 400, 300}, false}, // an unplugged monitor
        {{90000, 90000, 400, 300}, false},
        {{Free.left() + 40, Free.bottom() + 500, 400, 300}, false},
        {{Free.left() + 40, Free.top() - 400, 400, 300}, false},
        {{Free.left(), Free.top(), Free.width() * 2, Free.height() * 2}, false}, // a larger screen's
    };
    for (const auto& Case : Cases) {
        Put("forms/frmTest/Left", Case.Stored.left());
        Put("forms/frmTest/Top", Case.Stored.top());
        Put("forms/frmTest/Width", Case.Stored.width());
        Put("forms/frmTest/Height", Case.Stored.height());
        QWidget Window;
        LoadFormPlacement(Root, Placement, Window, false);
        const QRect Placed = Window.geometry();
        if (Case.Kept) {
            EXPECT_EQ(Placed, Case.Stored);
            continue;
        }
        // The frame's edges and title bar on the screen too.
        const int TitleBar = Window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
        EXPECT_TRUE(Free.contains(Placed.adjusted(0, 0, 8, TitleBar + 4)))
            << Placed.x() << "," << Placed.y() << " " << Placed.width();
        if (IsOffEveryScreen(Case.Stored)) {
            EXPECT_NEAR(Placed.center().x(), Free.center().x(), 4) << Case.Stored.x();
        }
    }
}

TEST_F(SettingsTest, ValuesRoundTripTyped)
{
    WriteSettingString(Root, Base, "LastOpenFolder", "/home/me/clips, old");
    WriteSettingBool(Root, Base, "RecalcTimecodes", false);
    EXPECT_EQ(ReadSettingString(Root, Base, "LastOpenFolder"), "/home/me/clips, old");
    EXPECT_FALSE(ReadSettingBool(Root, Base, "RecalcTimecodes", true));
    EXPECT_EQ(Get("RecalcTimecodes").toInt(), 0);
    WriteSettingBool(Root, Base, "RecalcTimecodes", true);
    EXPECT_EQ(Get("RecalcTimecodes").toInt(), 1);
}

TEST_F(SettingsTest, AnyNumberButZeroReadsTrue)
{
    Put("RecalcTimecodes", 5);
    EXPECT_TRUE(ReadSettingBool(Root, Base, "RecalcTimecodes", false));
    Put("RecalcTimecodes", "0");
    EXPECT_FALSE(ReadSettingBool(Root, Base, "RecalcTimecodes", true));
}

TEST_F(SettingsTest, WrongTypesRaiseTheirMessages)
{
    Put("RecalcTimecodes", "yes please");
    EXPECT_EQ(ErrorOf([] { ReadSettingBool(Root, Base, "RecalcTimecodes", true); }),
              "Invalid data type for 'RecalcTimecodes'");
    Put("RecalcTimecodes", QRect(1, 2, 3, 4));
    EXPECT_EQ(ErrorOf([] { ReadSettingBool(Root, Base, "RecalcTimecodes", true); }),
              "Invalid data type for 'RecalcTimecodes'");
    Put("RecalcTimecodes", "99999999999"); // more than 32 bits
    EXPECT_EQ(ErrorOf([] { ReadSettingBool(Root, Base, "RecalcTimecodes", true); }),
              "Failed to get data for 'RecalcTimecodes'");
    Put("LastOpenFolder", QRect(1, 2, 3, 4));
    EXPECT_EQ(ErrorOf([] { ReadSettingString(Root, Base, "LastOpenFolder"); }),
              "Invalid data type for 'LastOpenFolder'");
}

TEST_F(SettingsTest, RefusedWritesRaise)
{
    Store().sync();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, "/dev/null/settings");
    const std::string Error = ErrorOf([] { WriteSettingBool(Root, Base, "RecalcTimecodes", true); });
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       qEnvironmentVariable("XDG_CONFIG_HOME"));
    EXPECT_EQ(Error, "Failed to set data for 'RecalcTimecodes'\r\n/dev/null/settings/zentrova/vantrel.conf: "
                     "the file or its folder cannot be written");
}

// A settings file that is no regular file (a pipe, a device, a folder) or a
// link to one, or one far too large, is not ours: it is neither read nor
// replaced, nothing waits on it, and the user is told once.
TEST_F(SettingsTest, AStoreThatIsNoSettingsFileIsLeftAlone)
{
    const QString File = Store().fileName();
    const std::string Name = File.toStdString();
    const struct
    {
        const char* Kind;
        std::function<bool()> Make; // false: cannot be made here
        const char* Says;
    } Cases[] = {
        {"link to a device", [&] { return ::symlink("/dev/null", Name.c_str()) == 0; },
         "is a link to something"},
        {"2 MB", [&] { return ::truncate(Name.c_str(), 2 << 20) == 0; }, "is over 1 MB"},
        {"FIFO", [&] { return ::mkfifo(Name.c_str(), 0600) == 0; }, "is not a file"},
        {"device", [&] { return ::mknod(Name.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; },
         "is not a file"},
        {"folder", [&] { return ::mkdir(Name.c_str(), 0700) == 0; }, "is not a file"},
    };
    for (const auto& C : Cases) {
        Put("RecalcTimecodes", 0);
        if (std::string(C.Kind) != "2 MB")
            ::unlink(Name.c_str());
        struct stat Made
        {
        };
        if (!C.Make() || ::lstat(Name.c_str(), &Made) != 0)
            continue; // a device needs the right to make one
        QStringList Said;
        const TSettings Settings = LoadSettings(TProductInfo{}, Placement, Said);
        EXPECT_TRUE(Settings.RecalcTimecodes) << C.Kind; // the default, not what the file held
        ASSERT_EQ(Said.size(), 1) << C.Kind;
        EXPECT_TRUE(Said[0].startsWith(File + " " + C.Says)) << Said[0].toStdString();
        SaveSettings(TProductInfo{}, Placement, Settings);
        struct stat St
        {
        };
        ASSERT_EQ(::lstat(Name.c_str(), &St), 0);
        EXPECT_EQ(St.st_mode, Made.st_mode) << C.Kind;
        EXPECT_EQ(St.st_size, Made.st_size) << C.Kind;
        ::remove(Name.c_str());
    }
}

TEST_F(SettingsTest, NormalPlacementRoundTrips)
{
    QWidget Saved;
    Saved.setGeometry(20, 40, 600, 400);
    SaveFormPlacement(Root, Placement, Saved);
    EXPECT_EQ(Get("forms/frmTest/WindowState").toInt(), 0);
    QWidget Loaded;
    Loaded.setGeometry(272, 138, 483, 354);
    LoadFormPlacement(Root, Placement, Loaded, false);
    EXPECT_EQ(Loaded.pos(), Saved.pos());
    EXPECT_EQ(Loaded.size(), QSize(600, 400));
}

TEST_F(SettingsTest, MaximisedWritesOnlyTheStateAndRestoresOverTheNormalBounds)
{
    QWidget Window;
    Window.setGeometry(100, 120, 500, 300);
    SaveFormPlacement(Root, Placement, Window);
    Window.setGeometry(0, 0, 800, 600);
    Window.setWindowState(Qt::WindowMaximized);
    SaveFormPlacement(Root, Placement, Window);
    EXPECT_EQ(Get("forms/frmTest/WindowState").toInt(), 1);
    EXPECT_EQ(Get("forms/frmTest/Width").toInt(), 500);

    QWidget Loaded;
    LoadFormPlacement(Root, Placement, Loaded, false);
    EXPECT_TRUE(Loaded.isMaximized());
    EXPECT_EQ(Loaded.size(), QSize(500, 300));
}

TEST_F(SettingsTest, MinimisedWritesNothing)
{
    QWidget Window;
    Window.setGeometry(100, 120, 500, 300);
    SaveFormPlacement(Root, Placement, Window);
    Window.setGeometry(1, 2, 300, 200);
    Window.setWindowState(Qt::WindowMinimized);
    SaveFormPlacement(Root, Placement, Window);
    EXPECT_EQ(Get("forms/frmTest/Left").toInt(), 100);
    EXPECT_EQ(Get("forms/frmTest/WindowState").toInt(), 0);
}

TEST_F(SettingsTest, UnknownStateIsIgnoredAndPositionOnlyKeepsTheSize)
{
    Put("forms/frmTest/Left", 10);
    Put("forms/frmTest/Top", 20);
    Put("forms/frmTest/Width", 700);
    Put("forms/frmTest/Height", 500);
    Put("forms/frmTest/WindowState", 2);
    QWidget Window;
    Window.setGeometry(272, 138, 483, 354);
    LoadFormPlacement(Root, Placement, Window, true);
    EXPECT_EQ(Window.pos(), QPoint(10, 20));
    EXPECT_EQ(Window.size(), QSize(483, 354));
    LoadFormPlacement(Root, Placement, Window, false);
    EXPECT_EQ(Window.size(), QSize(700, 500));
    EXPECT_EQ(Window.windowState(), Qt::WindowNoState);
}

TEST(ProductInfo, NamesTheProductAndItsStore)
{
    const TProductInfo Info;
    EXPECT_EQ(Info.ProductName, "Vantrel");
    EXPECT_EQ(Info.Version, VANTREL_VERSION);
    EXPECT_EQ(Info.SettingsBaseKey, "\\Software\\zentrova\\vantrel");
    EXPECT_FALSE(Info.WebSite.isEmpty());
    EXPECT_FALSE(Info.Contacts.isEmpty());
    EXPECT_TRUE(Info.Copyright.contains("Vantrel"));
}

} // namespace
} // namespace vantrel
