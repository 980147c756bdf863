#include "MainForm.h"

#include "About.h"
#include "FileDlg.h"
#include "JoinFlow.h"
#include "ProgressDlg.h"
#include "ShellUtils.h"
#include "media/SysUtils.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCollator>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QVBoxLayout>

namespace vantrel {

namespace {

// Pointer this close to the top or bottom of the list scrolls it while dragging.
constexpr int DragScrollMargin = 20, DragScrollStep = 10;

// Runs Action when the scope ends, also when an exception passes.
template <typename F> struct TFinally
{
    F Action;
    ~TFinally() { Action(); }
};
template <typename F> TFinally(F) -> TFinally<F>;

QString WithoutMnemonic(QString Caption)
{
    return Caption.remove('&');
}

} // namespace

TfrmMain::TfrmMain(const TProductInfo& ProductInfo, TMessageBoxHandler AskUser, QWidget* Parent)
    : QMainWindow(Parent), FProductInfo(ProductInfo), FAskUser(std::move(AskUser))
{
    setObjectName("frmMain");
    setWindowTitle("Vantrel");
    setGeometry(DesignLeft, DesignTop, DesignWidth, DesignHeight);

    lvwFiles = new TFileListView(this);
    auto* Central = new QWidget(this);
    auto* Layout = new QVBoxLayout(Central);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    auto* pnlTop = new QWidget(Central);
    pnlTop->setObjectName("pnlTop");
    pnlTop->setFixedHeight(2);
    Layout->addWidget(pnlTop);
    Layout->addWidget(lvwFiles);
    setCentralWidget(Central);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    statusBar()->setObjectName("StatusBar");
    statusBar()->setSizeGripEnabled(true);
    StatusPanels = std::make_unique<TStatusPanels>(*statusBar());

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    PopupMenu->addAction(acnPlay);
    PopupMenu->setDefaultAction(acnPlay); // shown in bold
    PopupMenu->addSeparator();
    PopupMenu->addAction(acnMoveUp);
    PopupMenu->addAction(acnMoveDown);
    PopupMenu->addSeparator();
    PopupMenu->addAction(acnDelete);

    connect(lvwFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmMain::lvwFilesChange);
    connect(lvwFiles, &QAbstractItemView::doubleClicked, this, &TfrmMain::lvwFilesDblClick);
    connect(lvwFiles, &QWidget::customContextMenuRequested, this, &TfrmMain::lvwFilesContextPopup);
    connect(lvwFiles, &TFileListView::DraggedOver, this, &TfrmMain::lvwFilesDragOver);
    connect(lvwFiles, &TFileListView::DragEnded, this, &TfrmMain::lvwFilesEndDrag);
    connect(lvwFiles, &TFileListView::FilesDropped, this,
            [this](const QMimeData* Drop) { WMDropFiles(*Drop); });

    FormCreate();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::CreateActions()
{
    // The caption carries the menu's mnemonic; hints show it without.
    auto Make = [this](const char* Name, const QString& Caption, const QString& Icon,
                       void (TfrmMain::*Handler)()) {
        auto* Action = new QAction(Caption, this);
        Action->setObjectName(Name);
        Action->setToolTip(WithoutMnemonic(Caption));
        Action->setStatusTip(WithoutMnemonic(Caption));
        if (!Icon.isEmpty())
            Action->setIcon(QIcon(":/icons/" + Icon + ".svg"));
        connect(Action, &QAction::triggered, this, Handler);
        addAction(Action); // shortcuts work while the window is active
        return Action;
    };
    acnAddFiles = Make("acnAddFiles", "&Add Files", "add", &TfrmMain::acnAddFilesExecute);
    acnAddFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    acnJoinFile = Make("acnJoinFile", "&Join Files", "join", &TfrmMain::acnJoinFileExecute);
    acnJoinFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    acnPlay = Make("acnPlay", "&Play", "play", &TfrmMain::acnPlayExecute);
    acnMoveUp = Make("acnMoveUp", "Move &Up", "up", &TfrmMain::acnMoveUpExecute);
    acnMoveDown = Make("acnMoveDown", "Move &Down", "down", &TfrmMain::acnMoveDownExecute);
    acnDelete = Make("acnDelete", "&Delete", "", &TfrmMain::acnDeleteExecute);
    acnDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    acnClear = Make("acnClear", "&Clear", "clear", &TfrmMain::acnClearExecute);
    acnShowInFolder = Make("acnShowInFolder", "&Show in Folder", "folder", &TfrmMain::acnShowInFolderExecute);
    acnShowInFolder->setVisible(false);

    miExit = Make("miExit", "E&xit", "", &TfrmMain::miExitClick);
    miExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    miHelpTopics = Make("miHelpTopics", "&Help Topics", "", &TfrmMain::miHelpTopicsClick);
    miHelpTopics->setShortcut(QKeySequence(Qt::Key_F1));
    miAbout = Make("miAbout", "&About", "", &TfrmMain::miAboutClick);
    // A check item: triggering it inverts the check mark, which each join reads.
    miRecalcTimecodes = new QAction("&Re-calc Timecodes", this);
    miRecalcTimecodes->setObjectName("miRecalcTimecodes");
    miRecalcTimecodes->setStatusTip("Re-calc Timecodes");
    miRecalcTimecodes->setCheckable(true);
    miRecalcTimecodes->setChecked(true);
}

void TfrmMain::CreateMenus()
{
    menuBar()->setObjectName("MainMenu");
    QMenu* File = menuBar()->addMenu("&File");
    File->setObjectName("miFile");
    File->addAction(acnAddFiles);
    File->addSeparator();
    File->addAction(acnJoinFile);
    File->addAction(acnShowInFolder);
    File->addSeparator();
    File->addAction(miExit);
    QMenu* Edit = menuBar()->addMenu("&Edit");
    Edit->setObjectName("miEdit");
    Edit->addAction(acnMoveUp);
    Edit->addAction(acnMoveDown);
    Edit->addSeparator();
    Edit->addAction(acnClear);
    Edit->addSeparator();
    Edit->addAction(miRecalcTimecodes);
    QMenu* Help = menuBar()->addMenu("&Help");
    Help->setObjectName("miHelp");
    Help->addAction(miHelpTopics);
    Help->addSeparator();
    Help->addAction(miAbout);
}

void TfrmMain::CreateToolBar()
{
    ToolBar = addToolBar("ToolBar");
    ToolBar->setObjectName("ToolBar");
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(24, 24));
    ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const std::pair<QAction*, const char*> Buttons[] = {
        {acnAddFiles, "tbnAddFile"}, {acnJoinFile, "tbnJoinFile"}, {nullptr, nullptr}, {acnPlay, "tbnPlay"},
        {acnMoveUp, "tbnFileUp"},    {acnMoveDown, "tbnFileDown"}, {nullptr, nullptr}, {acnClear, "tbnClear"},
    };
    for (const auto& [Action, Name] : Buttons) {
        if (!Action) {
            ToolBar->addSeparator();
            continue;
        }
        ToolBar->addAction(Action);
        QWidget* Button = ToolBar->widgetForAction(Action);
        Button->setObjectName(Name);
        Button->setFixedSize(34, 30);
    }
}

QString TfrmMain::PlacementKey() const
{
    return FProductInfo.RegBaseKey + "\\forms\\" + objectName();
}

void TfrmMain::FormCreate()
{
    QStringList Damaged;
    LoadFormPlacement(FProductInfo.RegRoot, PlacementKey(), *this, false, &Damaged);
    const TSettings Settings = LoadSettings(FProductInfo, PlacementKey(), Damaged);
    if (!lvwFiles->SetColumnWidths(Settings.ColumnWidths))
        Damaged << "Invalid data type for 'ColumnWidths'";
    FLastOpenFolder = Settings.LastOpenFolder;
    FLastSaveFolder = Settings.LastSaveFolder;
    miRecalcTimecodes->setChecked(Settings.RecalcTimecodes);
    if (!Damaged.isEmpty())
        ShowMessageBox("Some settings could not be read; they were set back to their defaults:\r\n" +
                           Damaged.join("\r\n") + "\r\nSettings file: " +
                           RegStoreLocation(FProductInfo.RegRoot, FProductInfo.RegBaseKey),
                       TMessageKind::Warning, TMessageButtons::Ok);
    acnPlay->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    acnMoveUp->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
    acnMoveDown->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));
    setAcceptDrops(true);
    Refresh();
}

void TfrmMain::FormDestroy()
{
    SaveFormPlacement(FProductInfo.RegRoot, PlacementKey(), *this);
    SaveSettings(
        FProductInfo, PlacementKey(),
        {FLastOpenFolder, FLastSaveFolder, miRecalcTimecodes->isChecked(), lvwFiles->ColumnWidths()});
}

void TfrmMain::closeEvent(QCloseEvent* Event)
{
    // Closing in the middle of a join would leave it half done: ask, and
    // close only once the join has stopped.
    if (IsJoining()) {
        Event->ignore();
        if (ShowMessageBox("Files are being joined. Do you want to cancel the join?",
                           TMessageKind::Confirmation, TMessageButtons::YesNo,
                           TMessageAnswer::No) == TMessageAnswer::Yes &&
            FProgress) {
            FCloseAfterJoin = true;
            FProgress->Cancel();
        }
        return;
    }
    if (!FSettingsSaved) {
        FSettingsSaved = true;
        try {
            FormDestroy();
        } catch (const Exception& E) {
            ShowMessageBox(QString::fromStdString(E.what()), TMessageKind::Warning, TMessageButtons::Ok);
        }
    }
    Event->accept();
}

bool TfrmMain::event(QEvent* Event)
{
    // A command's hint shows in the first panel only; the others keep theirs.
    if (Event->type() == QEvent::StatusTip) {
        FStatusTip = static_cast<QStatusTipEvent*>(Event)->tip();
        UpdateStatusBar();
        return true;
    }
    return QMainWindow::event(Event);
}

void TfrmMain::resizeEvent(QResizeEvent* Event)
{
    QMainWindow::resizeEvent(Event);
    UpdateStatusBar();
}

void TfrmMain::BeginListUpdate()
{
    FUpdating = true;
    lvwFiles->setUpdatesEnabled(false);
}

void TfrmMain::EndListUpdate()
{
    lvwFiles->setUpdatesEnabled(true);
    FUpdating = false;
}

void TfrmMain::AddFile(const QString& FileName)
{
    lvwFiles->AddFile(FileName);
}

void TfrmMain::AddFiles(const QStringList& FileNames)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    BeginListUpdate();
    TFinally Restore{[this] {
        QApplication::restoreOverrideCursor();
        EndListUpdate();
    }};
    QElapsedTimer SincePaint;
    SincePaint.start();
    for (const QString& Name : FileNames) {
        try {
            AddFile(Name);
        } catch (const Exception& E) {
            const QString Prompt = "Unable to add file " + Name + ": " + QString::fromStdString(E.what()) +
                                   ".\r\nDo you want to continue add other files?";
            if (ShowMessageBox(Prompt, TMessageKind::Warning, TMessageButtons::YesNo) != TMessageAnswer::Yes)
                break;
        }
        // A long list keeps the window painted; commands wait until it is done.
        if (SincePaint.elapsed() > 100) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            SincePaint.restart();
        }
    }
}

void TfrmMain::OpenFiles(const QStringList& FileNames)
{
    QStringList Files;
    for (const QString& Name : FileNames) {
        const QFileInfo Info(Name);
        if (Info.exists() && !Info.isDir())
            Files << Info.absoluteFilePath();
    }
    if (!Files.isEmpty())
        AddSortedFiles(std::move(Files));
}

void TfrmMain::MoveItem(int Row, int Target)
{
    BeginListUpdate();
    TFinally End{[this] { EndListUpdate(); }};
    lvwFiles->MoveRow(Row, Target);
}

// The selected rows, as one block, one row up or down.
void TfrmMain::MoveSelection(int Step)
{
    const std::vector<int> Rows = lvwFiles->SelectedRows();
    if (Rows.empty() || Rows.front() + Step < 0 || Rows.back() + Step >= lvwFiles->Count())
        return;
    {
        BeginListUpdate();
        TFinally End{[this] { EndListUpdate(); }};
        lvwFiles->MoveRows(Rows, Rows.front() + Step);
    }
    ListChanged();
    Refresh();
}

void TfrmMain::acnMoveUpExecute()
{
    MoveSelection(-1);
}

void TfrmMain::acnMoveDownExecute()
{
    MoveSelection(1);
}

void TfrmMain::acnDeleteExecute()
{
    const std::vector<int> Rows = lvwFiles->SelectedRows();
    if (Rows.empty())
        return;
    {
        BeginListUpdate();
        TFinally End{[this] { EndListUpdate(); }};
        lvwFiles->RemoveRows(Rows);
    }
    ListChanged();
    Refresh();
}

void TfrmMain::acnClearExecute()
{
    if (ShowMessageBox("Are you sure you want to remove all files from the list?", TMessageKind::Confirmation,
                       TMessageButtons::YesNo) != TMessageAnswer::Yes)
        return;
    lvwFiles->Model().Clear();
    ListChanged();
    Refresh();
}

void TfrmMain::lvwFilesDragOver(QObject* Source, int Y)
{
    // The list keeps the row under the pointer as its drop target itself.
    if (Source != lvwFiles)
        return;
    QScrollBar* Bar = lvwFiles->verticalScrollBar();
    if (Y < DragScrollMargin)
        Bar->setValue(Bar->value() - DragScrollStep);
    if (Y > lvwFiles->viewport()->height() - DragScrollMargin)
        Bar->setValue(Bar->value() + DragScrollStep);
}

void TfrmMain::lvwFilesEndDrag()
{
    const std::vector<int> Rows = lvwFiles->SelectedRows();
    const int Target = lvwFiles->DropTarget();
    if (Rows.empty() || Target < 0)
        return;
    lvwFiles->ClearDropTarget();
    // The rows land where the target row stood: before it when they came
    // from above, after it when they came from below.
    const auto Above = std::count_if(Rows.begin(), Rows.end(), [Target](int Row) { return Row < Target; });
    {
        BeginListUpdate();
        TFinally End{[this] { EndListUpdate(); }};
        lvwFiles->MoveRows(Rows, Target - static_cast<int>(Above) + (Above > 0 ? 1 : 0));
    }
    ListChanged();
    Refresh();
}

TMessageAnswer TfrmMain::ShowMessageBox(const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                                        TMessageAnswer Default)
{
    if (FAskUser)
        return FAskUser(Text, Kind, Buttons);
    // While a join runs this window is disabled, and so would be a box it owns.
    QWidget* Owner = FProgress ? static_cast<QWidget*>(FProgress.data()) : this;
    return RunMessageBox(Owner, Text, Kind, Buttons, Default);
}

void TfrmMain::UpdateActions()
{
    const int Count = lvwFiles->Count();
    const std::vector<int> Rows = lvwFiles->SelectedRows();
    acnJoinFile->setEnabled(Count > 0);
    acnPlay->setEnabled(!Rows.empty());
    acnMoveUp->setEnabled(!Rows.empty() && Rows.front() > 0);
    acnMoveDown->setEnabled(!Rows.empty() && Rows.back() < Count - 1);
    acnDelete->setEnabled(!Rows.empty());
    acnClear->setEnabled(Count > 0);
}

void TfrmMain::UpdateStatusBar()
{
    const int Count = lvwFiles->Count();
    QString Texts[3];
    if (const std::vector<int> Rows = lvwFiles->SelectedRows(); Rows.size() > 1)
        Texts[0] = QString("%1 files selected").arg(Rows.size());
    else if (!Rows.empty())
        Texts[0] = QFileInfo(lvwFiles->FileName(Rows.front())).fileName();
    else if (Count > 0)
        Texts[0] = QString::number(Count) + " file(s)";
    else
        Texts[0] = "There are no selected files.";
    if (!FJoinedText.isEmpty())
        Texts[0] = FJoinedText;
    if (!FStatusTip.isEmpty())
        Texts[0] = FStatusTip;
    // The files' number and playing time, and their size.
    if (Count > 0) {
        double Seconds = 0;
        std::int64_t Bytes = 0;
        for (int I = 0; I < Count; ++I) {
            Seconds += lvwFiles->Record(I).Info.Duration;
            Bytes += lvwFiles->Record(I).Identity.Size;
        }
        Texts[1] = QString("%1 %2, %3")
                       .arg(Count)
                       .arg(Count == 1 ? "file" : "files")
                       .arg(QString::fromStdString(DurationText(Seconds)));
        Texts[2] = QString::fromStdString(ByteSizeText(Bytes));
    }
    StatusPanels->Show(Texts, width());
}

void TfrmMain::Refresh()
{
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMain::ListChanged()
{
    // A drag's target belongs to the list as the drag found it.
    lvwFiles->ClearDropTarget();
    FJoinedText.clear();
    FJoinedFolder.clear();
    acnShowInFolder->setVisible(false);
}

void TfrmMain::lvwFilesChange()
{
    if (FUpdating)
        return;
    Refresh();
}

void TfrmMain::acnAddFilesExecute()
{
    TFileOpenDialog Dialog;
    Dialog.OwnerWindow = this;
    if (!FLastOpenFolder.isEmpty())
        Dialog.InitialDir = FLastOpenFolder;
    // File names on Linux are case-sensitive, and cameras and VCDs write capitals.
    Dialog.Filter = "MPEG Files|*.mpeg;*.mpg;*.m1v;*.mpv;*.dat;*.MPEG;*.MPG;*.M1V;*.MPV;*.DAT|All Files|*.*";
    Dialog.MultiSelect = true;
    if (!Dialog.Execute())
        return;
    FLastOpenFolder = FolderOf(Dialog.FileName);
    AddSortedFiles(Dialog.Files);
}

void TfrmMain::WMDropFiles(const QMimeData& Drop)
{
    QStringList Files;
    GetDroppedFiles(Drop, Files, true, false);
    AddSortedFiles(std::move(Files));
}

void TfrmMain::AddSortedFiles(QStringList Files)
{
    // Case-insensitive, by the rules of the user's locale.
    QCollator Collator;
    Collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(Files.begin(), Files.end(), Collator);
    const int Before = lvwFiles->Count();
    const bool HadSelection = lvwFiles->SelectedRow() >= 0;
    AddFiles(Files);
    // Enter and Del work at once on what was just added.
    if (!HadSelection && lvwFiles->Count() > Before)
        lvwFiles->SelectRow(Before);
    if (lvwFiles->Count() != Before)
        ListChanged();
    Refresh();
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* Event)
{
    if (Event->mimeData()->hasUrls())
        Event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* Event)
{
    if (!Event->mimeData()->hasUrls())
        return;
    Event->acceptProposedAction();
    WMDropFiles(*Event->mimeData());
}

void TfrmMain::acnJoinFileExecute()
{
    TJoinFlow Flow(*this,
                   [this](const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                          TMessageAnswer Default) { return ShowMessageBox(Text, Kind, Buttons, Default); });
    Flow.LastSaveFolder = FLastSaveFolder;
    Flow.CreateProgress = [this] {
        auto Progress = std::make_unique<TfrmProgress>(this);
        FProgress = Progress.get();
        return Progress;
    };
    Flow.InputChanged = [this](std::size_t Index) { lvwFiles->Reprobe(static_cast<int>(Index)); };
    const std::optional<TJoinFlow::TOutcome> Outcome =
        Flow.Run(lvwFiles->Model().Records(), miRecalcTimecodes->isChecked());
    FLastSaveFolder = Flow.LastSaveFolder;
    if (Outcome) {
        FJoinedText = Outcome->Note;
        FJoinedFolder = Outcome->Folder;
        acnShowInFolder->setVisible(true);
        UpdateStatusBar();
    }
    if (FCloseAfterJoin)
        close();
}

void TfrmMain::acnShowInFolderExecute()
{
    if (!FJoinedFolder.isEmpty())
        ShellOpen(FJoinedFolder);
}

void TfrmMain::acnPlayExecute()
{
    if (const int Row = lvwFiles->SelectedRow(); Row >= 0)
        ShellOpen(lvwFiles->FileName(Row));
}

void TfrmMain::lvwFilesDblClick()
{
    acnPlayExecute();
}

void TfrmMain::lvwFilesContextPopup(const QPoint& Position)
{
    PopupMenu->popup(lvwFiles->viewport()->mapToGlobal(Position));
}

void TfrmMain::miExitClick()
{
    close();
}

void TfrmMain::miHelpTopicsClick()
{
    // Beside the program in the build tree; in the documentation folder once
    // installed.
    const QDir Program(QCoreApplication::applicationDirPath());
    QString Manual = Program.filePath("manual.html");
    if (!QFileInfo::exists(Manual))
        Manual = QDir::cleanPath(Program.filePath("../share/doc/vantrel/manual.html"));
    ShellOpen(Manual);
}

void TfrmMain::miAboutClick()
{
    ShowAboutBox(FProductInfo, this);
}

} // namespace vantrel
