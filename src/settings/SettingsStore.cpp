#include "settings/SettingsStore.h"

#include "io/SysUtils.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>
#include <QStyle>
#include <QWidget>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>

namespace vantrel {

namespace {

[[noreturn]] void Raise(const char* Message, const QString& Name)
{
    throw Exception(Format(Message, Name.toUtf8().constData()));
}

// A DWORD value as the store holds it: an integer type in the registry, a
// text of digits in an INI file.
std::optional<qint64> ReadNumber(const QSettings& Settings, const QString& Name)
{
    if (!Settings.contains(Name))
        return std::nullopt;
    const QVariant Value = Settings.value(Name);
    bool Ok = false;
    qint64 Number = 0;
    switch (Value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool: Number = Value.toLongLong(&Ok); break;
    case QMetaType::QString: Number = Value.toString().trimmed().toLongLong(&Ok); break;
    default: break;
    }
    if (!Ok)
        Raise("Invalid data type for '%s'", Name);
    if (Number < std::numeric_limits<qint32>::min() || Number > std::numeric_limits<quint32>::max())
        Raise("Failed to get data for '%s'", Name);
    // A DWORD holds 32 bits; positions are signed, stored in two's complement.
    return static_cast<qint32>(static_cast<quint32>(Number));
}

// Where QSettings keeps an application's settings in its native format.
QString StoreFile(const QString& Organisation, const QString& Application)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/" + Organisation +
           "/" + Application + ".conf";
}

// Why the store's file must be left alone; empty when it may be used. It is
// looked at without being opened for writing and without waiting on it: its
// own entry first (a FIFO would block the open, and a device would be
// renamed over on the next save), then the file that is opened, non-blocking
// and without following a link the entry did not show.
QString RefusedStoreFile(const QString& File)
{
    const QByteArray Name = QFile::encodeName(File);
    struct stat St
    {
    };
    if (::lstat(Name.constData(), &St) != 0)
        return {}; // made by the first save
    const bool Link = S_ISLNK(St.st_mode);
    if (Link && ::stat(Name.constData(), &St) != 0)
        return {}; // leads nowhere yet: the save makes the file
    const QString Kept = ": it is left as it is, and settings are not saved.";
    if (!S_ISREG(St.st_mode))
        return File + (Link ? " is a link to something that is not a file" : " is not a file") + Kept;
    const TFileHandle Opened(
        ::open(Name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (Link ? 0 : O_NOFOLLOW)));
    if (Opened.IsOpen() && (::fstat(Opened.Get(), &St) != 0 || !S_ISREG(St.st_mode)))
        return File + " is not a file" + Kept;
    if (St.st_size > TSettingsKey::MaxStoreSize)
        return File + " is over 1 MB, far more than settings" + Kept;
    return {};
}

void WriteValue(TSettingsRoot Root, const QString& KeyPath, const QString& Name, const QVariant& Value)
{
    const auto Key = OpenSettingsKey(Root, KeyPath);
    if (!Key->Refused().isEmpty())
        return; // said when the settings were read
    if (!Key->IsOpen())
        Raise("Failed to set data for '%s'", Name);
    Key->Settings()->setValue(Name, Value);
    Key->Settings()->sync();
    if (Key->Settings()->status() != QSettings::NoError) {
        const QString File = Key->Settings()->fileName();
        const QString Why = Key->Settings()->status() == QSettings::AccessError
                                ? "the file or its folder cannot be written"
                                : "the file is not in the settings format";
        throw Exception(Format("Failed to set data for '%s'", Name.toUtf8().constData()) + "\r\n" +
                        File.toStdString() + ": " + Why.toStdString());
    }
}

} // namespace

TSettingsKey::TSettingsKey(TSettingsRoot Root, const QString& KeyPath)
{
    if (Root != TSettingsRoot::CurrentUser)
        return;
    // \Software\<organisation>\<application>\<group...>
    QStringList Parts = KeyPath.split('\\', Qt::SkipEmptyParts);
    if (Parts.size() < 3 || Parts.front().compare("Software", Qt::CaseInsensitive) != 0)
        return;
    // QSettings reads its file as it is made: the file is looked at first.
    const QString File = m_FileName = StoreFile(Parts[1], Parts[2]);
    m_Refused = RefusedStoreFile(File);
    if (!m_Refused.isEmpty())
        return;
    m_Settings =
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, Parts[1], Parts[2]);
    Parts.erase(Parts.begin(), Parts.begin() + 3);
    if (!Parts.isEmpty())
        m_Settings->beginGroup(Parts.join('/'));
}

std::unique_ptr<TSettingsKey> OpenSettingsKey(TSettingsRoot Root, const QString& KeyPath)
{
    return std::make_unique<TSettingsKey>(Root, KeyPath);
}

QString ReadSettingString(TSettingsRoot Root, const QString& KeyPath, const QString& Name)
{
    const auto Key = OpenSettingsKey(Root, KeyPath);
    if (!Key->IsOpen() || !Key->Settings()->contains(Name))
        return {};
    const QVariant Value = Key->Settings()->value(Name);
    switch (Value.typeId()) {
    case QMetaType::QString:
        // Cut at a zero character, as a registry string ends there.
        return Value.toString().section(QChar(0), 0, 0);
    case QMetaType::QStringList:
        // An INI text with unquoted commas reads back as a list.
        return Value.toStringList().join(", ");
    default: Raise("Invalid data type for '%s'", Name);
    }
}

void WriteSettingString(TSettingsRoot Root, const QString& KeyPath, const QString& Name, const QString& Value)
{
    WriteValue(Root, KeyPath, Name, Value);
}

bool ReadSettingBool(TSettingsRoot Root, const QString& KeyPath, const QString& Name, bool Default)
{
    const auto Key = OpenSettingsKey(Root, KeyPath);
    if (!Key->IsOpen())
        return Default;
    const std::optional<qint64> Value = ReadNumber(*Key->Settings(), Name);
    return Value ? *Value != 0 : Default;
}

void WriteSettingBool(TSettingsRoot Root, const QString& KeyPath, const QString& Name, bool Value)
{
    WriteValue(Root, KeyPath, Name, Value ? 1 : 0);
}

namespace {

// Room for the frame a window manager adds, which is not known before the
// window is first shown: its title bar and its edges must stay in reach.
QSize FrameRoom(const QWidget& Window)
{
    const int Border = 4;
    return {2 * Border, Window.style()->pixelMetric(QStyle::PM_TitleBarHeight) + Border};
}

// The screen that shows most of Area; the primary one when none does.
QScreen* ScreenOf(const QRect& Area)
{
    QScreen* Screen = QGuiApplication::primaryScreen();
    std::int64_t Shown = 0;
    for (QScreen* Candidate : QGuiApplication::screens()) {
        const QRect Common = Candidate->availableGeometry().intersected(Area);
        if (const std::int64_t Size = std::int64_t{Common.width()} * Common.height(); Size > Shown) {
            Shown = Size;
            Screen = Candidate;
        }
    }
    return Screen;
}

} // namespace

void KeepOnScreen(QWidget& Window, bool Center)
{
    // Where the window stands with its frame: pos() is the frame's corner
    // (as the window manager and SaveFormPlacement see it), size() the
    // window's own.
    const QSize Room = FrameRoom(Window);
    QRect Frame(Window.pos(), Window.size() + Room);
    const QScreen* Screen = ScreenOf(Frame);
    if (!Screen)
        return;
    const QRect Free = Screen->availableGeometry();
    Frame.setSize(Frame.size().boundedTo(Free.size()).expandedTo(Window.minimumSize() + Room));
    if (Center)
        Frame.moveCenter(Free.center());
    // Whole on the screen, its frame included.
    Frame.moveLeft(
        std::clamp(Frame.left(), Free.left(), std::max(Free.left(), Free.right() + 1 - Frame.width())));
    Frame.moveTop(
        std::clamp(Frame.top(), Free.top(), std::max(Free.top(), Free.bottom() + 1 - Frame.height())));
    Window.resize(Frame.size() - Room);
    Window.move(Frame.topLeft());
}

void FitOnScreen(QWidget& Dialog, const QWidget* Owner)
{
    if (!Dialog.testAttribute(Qt::WA_Resized))
        Dialog.adjustSize();
    const QScreen* Screen = Owner && Owner->screen() ? Owner->screen() : QGuiApplication::primaryScreen();
    if (Screen)
        Dialog.resize(Dialog.size().boundedTo(Screen->availableGeometry().size() - FrameRoom(Dialog)));
}

bool IsOffEveryScreen(const QRect& Area)
{
    for (const QScreen* Screen : QGuiApplication::screens())
        if (Screen->geometry().intersects(Area))
            return false;
    return true;
}

QSize FirstWindowSize(const QSize& Designed)
{
    const QScreen* Screen = QGuiApplication::primaryScreen();
    if (!Screen)
        return Designed;
    // A large screen gives the first window a good part of itself, so long
    // names show whole; a small one at least the designed size.
    const QSize Free = Screen->availableGeometry().size();
    return (Free * 0.6).expandedTo(Designed);
}

void LoadFormPlacement(TSettingsRoot Root, const QString& KeyPath, QWidget& Window, bool PositionOnly,
                       QStringList* Damaged)
{
    const auto Key = OpenSettingsKey(Root, KeyPath);
    // A window with nothing stored opens in the middle of the screen.
    if (!Key->IsOpen() || !Key->Settings()->contains("Left") || !Key->Settings()->contains("Top")) {
        KeepOnScreen(Window, true);
        if (!Key->IsOpen())
            return;
    }
    // A position far off every screen (a damaged or hand-edited file, a
    // monitor since unplugged) counts as none: the window opens in the middle.
    const struct TKeep
    {
        QWidget& Window;
        ~TKeep() { KeepOnScreen(Window, IsOffEveryScreen(QRect(Window.pos(), Window.size()))); }
    } Keep{Window};
    const QSettings& S = *Key->Settings();
    // Each value is applied on its own, in this order.
    auto Apply = [&](const char* Name, auto Set) {
        try {
            if (const auto Value = ReadNumber(S, Name))
                Set(static_cast<int>(*Value));
        } catch (const Exception& E) {
            if (!Damaged)
                throw;
            *Damaged << QString::fromStdString(E.what());
        }
    };
    Apply("Top", [&](int Top) { Window.move(Window.x(), Top); });
    Apply("Left", [&](int Left) { Window.move(Left, Window.y()); });
    if (PositionOnly)
        return;
    Apply("Width", [&](int Width) { Window.resize(Width, Window.height()); });
    Apply("Height", [&](int Height) { Window.resize(Window.width(), Height); });
    Apply("WindowState", [&](int State) {
        if (State == 0)
            Window.setWindowState(Window.windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
        else if (State == 1)
            Window.setWindowState((Window.windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    });
}

TSettings LoadSettings(const TProductInfo& Product, const QString& WindowKey, QStringList& Damaged)
{
    const TSettingsRoot Root = Product.SettingsRoot;
    const QString& Base = Product.SettingsBaseKey;
    TSettings Settings;
    if (const auto Key = OpenSettingsKey(Root, Base); !Key->Refused().isEmpty())
        Damaged << Key->Refused();
    auto Read = [&Damaged](auto Load) {
        try {
            Load();
        } catch (const Exception& E) {
            Damaged << QString::fromStdString(E.what());
        }
    };
    Read([&] { Settings.ColumnWidths = ReadSettingString(Root, WindowKey, "ColumnWidths"); });
    Read([&] { Settings.LastOpenFolder = ReadSettingString(Root, Base, "LastOpenFolder"); });
    Read([&] { Settings.LastSaveFolder = ReadSettingString(Root, Base, "LastSaveFolder"); });
    Read([&] { Settings.RecalcTimecodes = ReadSettingBool(Root, Base, "RecalcTimecodes", true); });
    Read([&] { Settings.SaveChapterList = ReadSettingBool(Root, Base, "SaveChapterList", false); });
    return Settings;
}

void SaveSettings(const TProductInfo& Product, const QString& WindowKey, const TSettings& Settings)
{
    const TSettingsRoot Root = Product.SettingsRoot;
    const QString& Base = Product.SettingsBaseKey;
    WriteSettingString(Root, WindowKey, "ColumnWidths", Settings.ColumnWidths);
    if (!Settings.LastOpenFolder.trimmed().isEmpty())
        WriteSettingString(Root, Base, "LastOpenFolder", Settings.LastOpenFolder);
    if (!Settings.LastSaveFolder.trimmed().isEmpty())
        WriteSettingString(Root, Base, "LastSaveFolder", Settings.LastSaveFolder);
    WriteSettingBool(Root, Base, "RecalcTimecodes", Settings.RecalcTimecodes);
    WriteSettingBool(Root, Base, "SaveChapterList", Settings.SaveChapterList);
}

void SaveFormPlacement(TSettingsRoot Root, const QString& KeyPath, const QWidget& Window)
{
    if (Window.isMinimized())
        return;
    if (Window.isMaximized()) {
        WriteValue(Root, KeyPath, "WindowState", 1);
        return;
    }
    // Position of the frame, size of the window as Qt restores it.
    WriteValue(Root, KeyPath, "Top", Window.y());
    WriteValue(Root, KeyPath, "Left", Window.x());
    WriteValue(Root, KeyPath, "Width", Window.width());
    WriteValue(Root, KeyPath, "Height", Window.height());
    WriteValue(Root, KeyPath, "WindowState", 0);
}

QString SettingsLocation(TSettingsRoot Root, const QString& KeyPath)
{
    const auto Key = OpenSettingsKey(Root, KeyPath);
    return Key->FileName();
}

} // namespace vantrel
