// The main window: the list of files to join, its commands, and the flows of
// adding, ordering, joining and playing files.
#pragma once

#include "media/MPEGInfo.h"
#include "settings/RegLib.h"

#include <QMainWindow>
#include <QTreeWidget>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QMimeData;
class QToolBar;

namespace vantrel {

class TfrmMain;

// A row of the file list; it owns the format record probed when it was added.
class TFileItem : public QTreeWidgetItem
{
public:
    std::unique_ptr<TMediaInfo> Record;
};

// The report list. It hands drags of its own rows and files dropped from the
// desktop to the main window.
class TFileListView : public QTreeWidget
{
    Q_OBJECT
public:
    explicit TFileListView(TfrmMain& Owner);
    // The row highlighted as the drop target during a drag, or the last one
    // highlighted before the pointer left the list.
    QTreeWidgetItem* DropTarget() const { return m_DropTarget; }
    void ClearDropTarget();
    void SetDropTarget(QTreeWidgetItem* Item);

protected:
    void startDrag(Qt::DropActions Actions) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dragLeaveEvent(QDragLeaveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    TfrmMain& m_Owner;
    QTreeWidgetItem* m_DropTarget = nullptr;
};

enum class TMessageKind
{
    Warning,
    Information,
    Confirmation
};
enum class TMessageButtons
{
    YesNo,
    Ok
};
enum class TMessageAnswer
{
    Yes,
    No,
    Ok
};

class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmMain(const TProductInfo& ProductInfo, QWidget* Parent = nullptr);
    ~TfrmMain() override;

    // The file list.
    void BeginListUpdate();
    void EndListUpdate();
    void UpdateItemStatus(QTreeWidgetItem* Item);
    void UpdateAllStatuses();
    // Probes the file and appends its row; the probe's exception passes on.
    void AddFile(const QString& FileName);
    // Adds the files in order, asking after each failure whether to go on.
    void AddFiles(const QStringList& FileNames);
    void MoveItem(QTreeWidgetItem* Item, int Target);
    struct TCompatibility
    {
        bool Cancel = false;
        bool VideoOnly = false;
    };
    TCompatibility CheckCompatibility();
    TMessageAnswer ShowMessageBox(const QString& Text, TMessageKind Kind, TMessageButtons Buttons);

    // The window refresh after every command that changes the list.
    void UpdateActions();
    void UpdateStatusBar();
    // Runs a join into OutputName; raises whatever the join raises.
    void JoinFiles(const QString& OutputName, bool VideoOnly);
    // Files dropped from the desktop.
    void WMDropFiles(const QMimeData& Drop);

    // Drag handlers of the list.
    void lvwFilesDragOver(QObject* Source, int Y);
    void lvwFilesEndDrag();

    QTreeWidget* FileList() const { return lvwFiles; }
    const QString& LastOpenFolder() const { return FLastOpenFolder; }
    const QString& LastSaveFolder() const { return FLastSaveFolder; }
    // The settings key of this window's placement.
    QString PlacementKey() const;

    // Tests answer message boxes through this instead of a person; it serves
    // every window, the one being created included.
    static inline std::function<TMessageAnswer(const QString& Text, TMessageKind, TMessageButtons)>
        MessageBoxHook;

    static constexpr int DesignLeft = 272, DesignTop = 138, DesignWidth = 483, DesignHeight = 354;

protected:
    void closeEvent(QCloseEvent* Event) override;
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
    void acnMoveUpExecute();
    void acnMoveDownExecute();
    void acnDeleteExecute();
    void acnClearExecute();
    void lvwFilesChange();
    void lvwFilesDblClick();
    void lvwFilesContextPopup(const QPoint& Position);
    void miExitClick();
    void miHelpTopicsClick();
    void miAboutClick();

    // Adds the chosen or dropped files in sorted order, then refreshes.
    void AddSortedFiles(QStringList Files);
    TFileItem* Row(int Index) const;
    TFileItem* Selected() const;
    void SelectRow(QTreeWidgetItem* Item);

    TProductInfo FProductInfo;
    bool FUpdating = false;
    QTreeWidgetItem* FDropTarget = nullptr;
    QString FLastOpenFolder;
    QString FLastSaveFolder;
    bool FSettingsSaved = false;

    TFileListView* lvwFiles;
    QToolBar* ToolBar;
    QMenu* PopupMenu;
    QLabel* StatusPanels[3];
    QAction* acnAddFiles;
    QAction* acnJoinFile;
    QAction* acnPlay;
    QAction* acnMoveUp;
    QAction* acnMoveDown;
    QAction* acnDelete;
    QAction* acnClear;
    QAction* miExit;
    QAction* miRecalcTimecodes;
    QAction* miHelpTopics;
    QAction* miAbout;
};

// Texts of the file list's cells.
QString FrameSizeText(const TMediaInfo& Info);
QString FrameRateText(double FrameRate);
// The folder of a full file name, as the dialogs remember it.
QString FolderOf(const QString& FileName);
// The output name with ".mpeg" appended unless it already ends so.
QString WithMpegExtension(const QString& FileName);

} // namespace vantrel
