// The per-user settings store: typed values addressed by root, key path and
// name, and a window's placement. Backed by QSettings in its native format
// (an INI file in the user's configuration folder on Linux, the registry on
// Windows); a key path "\Software\<organisation>\<application>\a\b" is the
// store of that organisation and application, group "a/b".
#pragma once

#include <QRect>
#include <QSettings>
#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

namespace vantrel {

enum class TSettingsRoot
{
    CurrentUser
};

// What the program says about itself, filled once at start.
struct TProductInfo
{
    QString ProductName = "Vantrel";
    QString Version = VANTREL_VERSION;
    TSettingsRoot SettingsRoot = TSettingsRoot::CurrentUser;
    QString SettingsBaseKey = "\\Software\\zentrova\\vantrel";
    QString WebSite = "https://zentrova.org/vantrel";
    QString Contacts = "https://zentrova.org/vantrel/contacts";
    QString Copyright = QString::fromUtf8("Copyright \u00A9 2026 The Vantrel developers");
};

// An open key: the store positioned at the key's group. Freeing it closes
// the key. A key that could not be opened refers to no store; reads find
// nothing there and writes fail.
class TSettingsKey
{
public:
    TSettingsKey(TSettingsRoot Root, const QString& KeyPath);
    bool IsOpen() const { return m_Settings != nullptr; }
    QSettings* Settings() const { return m_Settings.get(); }
    // Why the store's file is left alone, neither read nor written: it is
    // not a regular file (a device, a pipe, a folder), or a link to
    // something that is not, or it is far larger than settings ever are.
    // Empty for a store in use.
    const QString& Refused() const { return m_Refused; }
    // The store's file.
    const QString& FileName() const { return m_FileName; }

    // Settings are a few hundred bytes; a file beyond this is not ours.
    static constexpr qint64 MaxStoreSize = 1 << 20;

private:
    std::unique_ptr<QSettings> m_Settings;
    QString m_FileName;
    QString m_Refused;
};

std::unique_ptr<TSettingsKey> OpenSettingsKey(TSettingsRoot Root, const QString& KeyPath);

// The text of a string value; empty when it does not exist. Raises "Invalid
// data type for '%s'" when the value is not a string.
QString ReadSettingString(TSettingsRoot Root, const QString& KeyPath, const QString& Name);
// Raises "Failed to set data for '%s'" when the store refuses the write.
void WriteSettingString(TSettingsRoot Root, const QString& KeyPath, const QString& Name,
                        const QString& Value);
// A 32-bit number value read as a boolean (any number but 0 is true); Default
// when the value does not exist. Raises "Invalid data type for '%s'" for a
// value that is not a number and "Failed to get data for '%s'" for one that
// does not fit in 32 bits.
bool ReadSettingBool(TSettingsRoot Root, const QString& KeyPath, const QString& Name, bool Default);
void WriteSettingBool(TSettingsRoot Root, const QString& KeyPath, const QString& Name, bool Value);

// Restores "Left" and "Top", and unless PositionOnly also "Width", "Height"
// and "WindowState" (0 normal, 1 maximised; other numbers are ignored). Call it
// before the window is first shown. A damaged value raises; with Damaged
// given, it is skipped instead, its message added there, and the other
// values are still restored.
// The window is then kept on a screen: no larger than the screen's free
// area and inside it, or, with nothing stored, in its middle.
void LoadFormPlacement(TSettingsRoot Root, const QString& KeyPath, QWidget& Window, bool PositionOnly,
                       QStringList* Damaged = nullptr);
// Pulls the window, its frame included, wholly onto the screen that shows
// most of it (the primary one when none does), shrunk to its free area when
// larger; Center places it in the middle.
void KeepOnScreen(QWidget& Window, bool Center);
// Shrinks a dialog about to be shown to the free area of its owner's screen,
// frame included; where it stands is left to the dialog (over its owner).
void FitOnScreen(QWidget& Dialog, const QWidget* Owner);
// True when no screen shows any of Area.
bool IsOffEveryScreen(const QRect& Area);
// The size of a first window, with nothing stored: a good share of a large
// screen, and at least Designed.
QSize FirstWindowSize(const QSize& Designed);
// In normal state writes the bounds and "WindowState" 0; maximised only
// "WindowState" 1; minimised nothing.
void SaveFormPlacement(TSettingsRoot Root, const QString& KeyPath, const QWidget& Window);

// What the main window keeps between runs, besides its placement.
struct TSettings
{
    QString LastOpenFolder;
    QString LastSaveFolder;
    bool RecalcTimecodes = true;
    QString ColumnWidths;         // of the file list, under the window's own key
    bool SaveChapterList = false; // beside a joined file, from the save dialog
};

// Reads each value on its own: a damaged one keeps its default and its
// message is added to Damaged, and the others still load.
TSettings LoadSettings(const TProductInfo& Product, const QString& WindowKey, QStringList& Damaged);
// Writes every value; blank folders are not worth remembering, so what the
// store held for them stays. Raises what the writes raise.
void SaveSettings(const TProductInfo& Product, const QString& WindowKey, const TSettings& Settings);

// Where the store keeps the key's values, for people: the settings file.
QString SettingsLocation(TSettingsRoot Root, const QString& KeyPath);

} // namespace vantrel
