// The main window: the list of files to join, its commands, and the flows of
// adding, ordering, joining and playing files.
#pragma once

#include "settings/SettingsStore.h"
#include "ui/FileAdder.h"
#include "ui/FileList.h"
#include "ui/ListEdits.h"
#include "ui/MessageBox.h"
#include "ui/StatusBar.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QMimeData;
class QTimer;
class QToolBar;

namespace vantrel {

class TfrmProgress;

class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    // AskUser, when given, answers every message box of the window, those
    // shown while it is being created included.
    explicit TfrmMain(const TProductInfo& ProductInfo, TMessageBoxHandler AskUser = {},
                      QWidget* Parent = nullptr);
    ~TfrmMain() override;

    // The file list.
    // Adds the files in order, asking after each failure whether to go on;
    // the adding runs on from the event loop.
    void AddFiles(const QStringList& FileNames);
    // True while files are being added.
    bool IsAdding() const { return FAdder->IsAdding(); }
    // Adds files named from outside (the command line, "Open with"), as a drop
    // would: existing files only, sorted. KeepJoinNote: the last join's note
    // and Show in Folder stay (files that came while it ran).
    void OpenFiles(const QStringList& FileNames, bool KeepJoinNote = false);
    // Files a later start hands over (or the command line names): the window
    // comes up, restored and active, and they are added as OpenFiles adds
    // them once the window is free: no join under way, no question, message
    // or dialog open, no files being added. So no answer given about other
    // files applies to them. Names that are not files while the message
    // saying so is open join that message.
    void HandOver(const QStringList& FileNames);
    TMessageAnswer ShowMessageBox(const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                                  TMessageAnswer Default = TMessageAnswer::Yes);

    // The window refresh after every command that changes the list.
    void UpdateActions();
    void UpdateStatusBar();
    // The program is asked to end (SIGTERM, SIGHUP, SIGINT): a join under
    // way stops and leaves its output as it was, then the window closes.
    // Questions and messages that are open are taken back as Escape would,
    // none opens after, and a failure to save the settings is said on
    // standard error: nobody is there to answer.
    void Terminate();
    // Files dropped from the desktop.
    void WMDropFiles(const QMimeData& Drop);

    TFileListView* FileList() const { return lvwFiles; }
    TListEdits& Edits() const { return *FEdits; }
    const QString& LastOpenFolder() const { return FLastOpenFolder; }
    const QString& LastSaveFolder() const { return FLastSaveFolder; }
    // The settings key of this window's placement.
    QString PlacementKey() const;
    // True while a join runs.
    bool IsJoining() const { return !FProgress.isNull(); }

    // Where the window opens when no placement is stored. It is wider than the
    // four columns of old needed: six columns show with no scrolling.
    static constexpr int DesignLeft = 272, DesignTop = 138, DesignWidth = 780, DesignHeight = 420;

protected:
    bool event(QEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    // Files dropped anywhere on the window, not only on the list.
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void FormCreate();
    void FormDestroy();

    void acnAddFilesExecute();
    void acnJoinFileExecute();
    void acnPlayExecute();
    void acnDeleteExecute();
    void acnClearExecute();
    void acnShowInFolderExecute();
    void miExitClick();
    void miHelpTopicsClick();
    void miAboutClick();

    void MoveSelection(int Step);
    // Adds the chosen or dropped files in sorted order, then refreshes.
    void AddSortedFiles(QStringList Files, bool KeepJoinNote = false);
    void AddHandedOver();
    // After the list's content changed: the last join's note and its folder go.
    void ListChanged();
    void Refresh();

    TProductInfo FProductInfo;
    TMessageBoxHandler FAskUser;
    QString FLastOpenFolder;
    QString FLastSaveFolder;
    bool FSaveChapterList = false; // the save dialog's "Save a chapter list"
    bool FSettingsSaved = false;
    QPointer<TfrmProgress> FProgress;
    bool FCloseAfterJoin = false;
    QString FJoinedText;        // "Joined N files into NAME (h:mm:ss)" until the list changes
    QString FJoinedFile;        // what "Show in Folder" shows
    QString FStatusTip;         // a command's hint, shown in panel 0 while it is pointed at
    bool FKeepJoinNote = false; // files being added came while a join ran
    bool FTerminating = false;
    int FAsking = 0; // message boxes open
    QStringList FHandedOver;
    bool FHandedOverInJoin = false;
    QStringList FNotFiles; // in the message that is open about them
    QTimer* FHandOverTimer;

    TFileListView* lvwFiles;
    TListEdits* FEdits;
    TFileAdder* FAdder;
    QToolBar* ToolBar;
    QMenu* PopupMenu;
    std::unique_ptr<TStatusPanels> StatusPanels;
    QAction* acnAddFiles;
    QAction* acnJoinFile;
    QAction* acnPlay;
    QAction* acnMoveUp;
    QAction* acnMoveDown;
    QAction* acnDelete;
    QAction* acnClear;
    QAction* acnUndo;
    QAction* acnRedo;
    QAction* acnShowInFolder;
    QAction* miExit;
    QAction* miRecalcTimecodes;
    QAction* miHelpTopics;
    QAction* miAbout;
};

} // namespace vantrel
