#include "ui/MainForm.h"

#include "io/SysUtils.h"
#include "ui/About.h"
#include "ui/Actions.h"
#include "ui/FileDlg.h"
#include "ui/FileNames.h"
#include "ui/JoinFlow.h"
#include "ui/ProgressDlg.h"
#include "ui/ShellUtils.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <cstdio>

namespace vantrel {

TfrmMain::TfrmMain(const TProductInfo& ProductInfo, TMessageBoxHandler AskUser, QWidget* Parent)
    : QMainWindow(Parent), FProductInfo(ProductInfo), FAskUser(std::move(AskUser))
{
    setObjectName("frmMain");
    setWindowTitle("Vantrel");
    move(DesignLeft, DesignTop);
    resize(FirstWindowSize(QSize(DesignWidth, DesignHeight)));

    lvwFiles = new TFileListView(this);
    FEdits = new TListEdits(lvwFiles->Model(), *lvwFiles->selectionModel(), this);
    FAdder = new TFileAdder(
        *FEdits,
        [this](const QString& Text, TMessageButtons Buttons) {
            return ShowMessageBox(Text, TMessageKind::Warning, Buttons);
        },
        this);
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

    connect(lvwFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { Refresh(); });
    connect(lvwFiles, &QAbstractItemView::doubleClicked, this, [this] { acnPlayExecute(); });
    connect(lvwFiles, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& At) { PopupMenu->popup(lvwFiles->viewport()->mapToGlobal(At)); });
    connect(lvwFiles, &TFileListView::RowsDragged, this,
            [this](const std::vector<int>& Rows, int Target) { FEdits->Move(Rows, Target); });
    // Every change of the rows is a step of the edits, done, undone or redone.
    connect(&FEdits->Stack(), &QUndoStack::indexChanged, this, &TfrmMain::ListChanged);
    // A file probed again, gone or back changes what the bar adds up.
    connect(&lvwFiles->Model(), &QAbstractItemModel::dataChanged, this, &TfrmMain::UpdateStatusBar);
    connect(FAdder, &TFileAdder::Finished, this, [this] {
        FKeepJoinNote = false;
        Refresh();
    });
    connect(lvwFiles, &TFileListView::FilesDropped, this,
            [this](const QMimeData* Drop) { WMDropFiles(*Drop); });
    FHandOverTimer = new QTimer(this);
    FHandOverTimer->setInterval(100);
    connect(FHandOverTimer, &QTimer::timeout, this, &TfrmMain::AddHandedOver);

    FormCreate();
}

TfrmMain::~TfrmMain()
{
    // The history goes first, while the list it holds rows of is still there,
    // and tells a window on its way out nothing more.
    disconnect(&FEdits->Stack(), nullptr, this, nullptr);
    delete FAdder;
    delete FEdits;
}

void TfrmMain::CreateActions()
{
    auto Make = [this](const char* Name, const QString& Caption, const QString& Icon,
                       std::function<void()> Handler, QList<QKeySequence> Keys = {}) {
        return MakeAction(*this, Name, Caption, Icon, std::move(Handler), std::move(Keys));
    };
    acnAddFiles =
        Make("acnAddFiles", "&Add Files", "add", [this] { acnAddFilesExecute(); }, {Qt::CTRL | Qt::Key_O});
    acnJoinFile =
        Make("acnJoinFile", "&Join Files", "join", [this] { acnJoinFileExecute(); }, {Qt::CTRL | Qt::Key_S});
    acnPlay = Make("acnPlay", "&Play", "play", [this] { acnPlayExecute(); }, {Qt::Key_Return, Qt::Key_Enter});
    acnMoveUp = Make("acnMoveUp", "Move &Up", "up", [this] { MoveSelection(-1); }, {Qt::CTRL | Qt::Key_Up});
    acnMoveDown =
        Make("acnMoveDown", "Move &Down", "down", [this] { MoveSelection(1); }, {Qt::CTRL | Qt::Key_Down});
    acnDelete = Make("acnDelete", "De&lete", "remove", [this] { acnDeleteExecute(); }, {Qt::Key_Delete});
    acnClear = Make("acnClear", "&Clear", "clear", [this] { acnClearExecute(); });
    acnUndo = Make("acnUndo", "Und&o", "", [this] { FEdits->Stack().undo(); }, {QKeySequence::Undo});
    acnRedo = Make("acnRedo", "R&edo", "", [this] { FEdits->Stack().redo(); },
                   {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    acnShowInFolder =
        Make("acnShowInFolder", "&Show in Folder", "folder", [this] { acnShowInFolderExecute(); });
    acnShowInFolder->setVisible(false);
    miExit = Make("miExit", "E&xit", "", [this] { miExitClick(); }, {Qt::CTRL | Qt::Key_Q});
    miHelpTopics = Make("miHelpTopics", "&Help Topics", "", [this] { miHelpTopicsClick(); }, {Qt::Key_F1});
    miAbout = Make("miAbout", "&About", "", [this] { miAboutClick(); });
    // A check item: triggering it inverts the check mark, which each join reads.
    miRecalcTimecodes = new QAction("&Re-calc Timecodes", this);
    miRecalcTimecodes->setObjectName("miRecalcTimecodes");
    miRecalcTimecodes->setStatusTip("Re-calc Timecodes");
    miRecalcTimecodes->setCheckable(true);
    miRecalcTimecodes->setChecked(true);
    connect(miRecalcTimecodes, &QAction::toggled, this, &TfrmMain::UpdateStatusBar);
}

void TfrmMain::CreateMenus()
{
    menuBar()->setObjectName("MainMenu");
    FillMenu(menuBar()->addMenu("&File"), "miFile",
             {acnAddFiles, nullptr, acnJoinFile, acnShowInFolder, nullptr, miExit});
    FillMenu(menuBar()->addMenu("&Edit"), "miEdit",
             {acnUndo, acnRedo, nullptr, acnMoveUp, acnMoveDown, nullptr, acnDelete, acnClear, nullptr,
              miRecalcTimecodes});
    FillMenu(menuBar()->addMenu("&Help"), "miHelp", {miHelpTopics, nullptr, miAbout});
    PopupMenu = FillMenu(new QMenu(this), "PopupMenu",
                         {acnPlay, nullptr, acnMoveUp, acnMoveDown, nullptr, acnDelete});
    PopupMenu->setDefaultAction(acnPlay); // shown in bold
}

void TfrmMain::CreateToolBar()
{
    ToolBar = addToolBar("ToolBar");
    ToolBar->setObjectName("ToolBar");
    const std::pair<QAction*, const char*> Buttons[] = {
        {acnAddFiles, "tbnAddFile"}, {acnJoinFile, "tbnJoinFile"}, {nullptr, nullptr},
        {acnPlay, "tbnPlay"},        {acnMoveUp, "tbnFileUp"},     {acnMoveDown, "tbnFileDown"},
        {nullptr, nullptr},          {acnDelete, "tbnDelete"},     {acnClear, "tbnClear"},
    };
    AddToolButtons(*ToolBar, Buttons);
}

QString TfrmMain::PlacementKey() const
{
    return FProductInfo.SettingsBaseKey + "\\forms\\" + objectName();
}

void TfrmMain::FormCreate()
{
    QStringList Damaged;
    LoadFormPlacement(FProductInfo.SettingsRoot, PlacementKey(), *this, false, &Damaged);
    const TSettings Settings = LoadSettings(FProductInfo, PlacementKey(), Damaged);
    if (!lvwFiles->SetColumnWidths(Settings.ColumnWidths))
        Damaged << "Invalid data type for 'ColumnWidths'";
    FLastOpenFolder = Settings.LastOpenFolder;
    FLastSaveFolder = Settings.LastSaveFolder;
    FSaveChapterList = Settings.SaveChapterList;
    miRecalcTimecodes->setChecked(Settings.RecalcTimecodes);
    if (!Damaged.isEmpty())
        ShowMessageBox("Some settings could not be read; they were set back to their defaults:\r\n" +
                           Damaged.join("\r\n") + "\r\nSettings file: " +
                           SettingsLocation(FProductInfo.SettingsRoot, FProductInfo.SettingsBaseKey),
                       TMessageKind::Warning, TMessageButtons::Ok);
    setAcceptDrops(true);
    Refresh();
}

void TfrmMain::FormDestroy()
{
    SaveFormPlacement(FProductInfo.SettingsRoot, PlacementKey(), *this);
    SaveSettings(FProductInfo, PlacementKey(),
                 {FLastOpenFolder, FLastSaveFolder, miRecalcTimecodes->isChecked(), lvwFiles->ColumnWidths(),
                  FSaveChapterList});
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
            if (FTerminating)
                std::fprintf(stderr, "vantrel: %s\n",
                             QString::fromStdString(E.what()).remove('\r').toLocal8Bit().constData());
            else
                ShowMessageBox(QString::fromStdString(E.what()), TMessageKind::Warning, TMessageButtons::Ok);
        }
    }
    FAdder->Stop();
    Event->accept();
}

void TfrmMain::Terminate()
{
    FTerminating = FCloseAfterJoin = true;
    FHandOverTimer->stop();
    FAdder->Stop();
    DismissOpenDialogs();
    if (FProgress)
        FProgress->Abandon();
    else
        close();
}

bool TfrmMain::event(QEvent* Event)
{
    // A command's hint shows in the first panel only; the others keep theirs.
    if (Event->type() == QEvent::WindowActivate) // files may have gone meanwhile
        MarkMissingFiles(lvwFiles->Model());
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

void TfrmMain::AddFiles(const QStringList& FileNames)
{
    FAdder->Add(FileNames);
    UpdateActions();
}

void TfrmMain::OpenFiles(const QStringList& FileNames, bool KeepJoinNote)
{
    QStringList Files, Missing;
    for (const QString& Name : FileNames)
        (IsFileName(Name) ? Files : Missing) << QFileInfo(Name).absoluteFilePath();
    AddSortedFiles(std::move(Files), KeepJoinNote);
    if (Missing.isEmpty())
        return;
    FNotFiles = Missing;
    ShowMessageBox(NotFilesText(FNotFiles), TMessageKind::Warning, TMessageButtons::Ok);
    FNotFiles.clear();
}

void TfrmMain::HandOver(const QStringList& FileNames)
{
    if (FTerminating)
        return; // the window is going, not coming up
    for (const QString& Name : FileNames)
        (FNotFiles.isEmpty() || IsFileName(Name) ? FHandedOver : FNotFiles) << Name;
    auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!FNotFiles.isEmpty() && Box && Box->text().startsWith("These names are not files"))
        Box->setText(NotFilesText(FNotFiles).replace("\r\n", "\n"));
    FHandedOverInJoin = FHandedOverInJoin || IsJoining();
    if (!FHandedOver.isEmpty())
        FHandOverTimer->start();
    BringToFront(*this, FProgress);
}

void TfrmMain::AddHandedOver()
{
    if (IsJoining() || FAsking > 0 || FAdder->IsAdding() || FTerminating ||
        QApplication::activeModalWidget() || QApplication::activePopupWidget() ||
        QGuiApplication::mouseButtons() != Qt::NoButton)
        return; // a drag or a click may be under way
    FHandOverTimer->stop();
    OpenFiles(std::exchange(FHandedOver, {}), std::exchange(FHandedOverInJoin, false));
}

// The selected rows, as one block, one row up or down.
void TfrmMain::MoveSelection(int Step)
{
    const std::vector<int> Rows = lvwFiles->SelectedRows();
    if (Rows.empty() || Rows.front() + Step < 0 || Rows.back() + Step >= lvwFiles->Count())
        return;
    FEdits->Move(Rows, Rows.front() + Step);
    lvwFiles->setFocus();
}

void TfrmMain::acnDeleteExecute()
{
    FEdits->Remove(lvwFiles->SelectedRows());
}

void TfrmMain::acnClearExecute()
{
    // The rows asked about: files that arrive while the question is open stay.
    const int Count = lvwFiles->Count();
    if (ShowMessageBox("Are you sure you want to remove all files from the list?", TMessageKind::Confirmation,
                       TMessageButtons::YesNo) != TMessageAnswer::Yes)
        return;
    FEdits->Clear(Count);
}

TMessageAnswer TfrmMain::ShowMessageBox(const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                                        TMessageAnswer Default)
{
    // Ending: every question is answered as Escape answers it.
    if (FTerminating)
        return Buttons == TMessageButtons::Ok ? TMessageAnswer::Ok : TMessageAnswer::No;
    const QScopedValueRollback Asking(FAsking, FAsking + 1);
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
    // A join waits for the files still being added.
    acnJoinFile->setEnabled(Count > 0 && !FAdder->IsAdding());
    acnPlay->setEnabled(!Rows.empty());
    acnMoveUp->setEnabled(!Rows.empty() && Rows.front() > 0);
    acnMoveDown->setEnabled(!Rows.empty() && Rows.back() < Count - 1);
    acnDelete->setEnabled(!Rows.empty());
    acnClear->setEnabled(Count > 0);
    acnUndo->setEnabled(FEdits->Stack().canUndo());
    acnRedo->setEnabled(FEdits->Stack().canRedo());
}

void TfrmMain::UpdateStatusBar()
{
    const int Count = lvwFiles->Count();
    const std::vector<int> Rows = lvwFiles->SelectedRows();
    QString Texts[3] = {SelectionText(Rows, Rows.empty() ? QString() : lvwFiles->FileName(Rows.front()),
                                      FStatusTip.isEmpty() ? FJoinedText : FStatusTip)};
    if (Count > 0) {
        Texts[1] = lvwFiles->Model().TotalsText();
        Texts[2] = lvwFiles->Model().SizeText();
    }
    StatusPanels->SetNotice(miRecalcTimecodes->isChecked() ? ""
                                                           : "Re-calc Timecodes off: " + KeptStampsText());
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
    if (!FKeepJoinNote) {
        FJoinedText.clear();
        FJoinedFile.clear();
        acnShowInFolder->setVisible(false);
    }
    Refresh();
}

void TfrmMain::acnAddFilesExecute()
{
    AddSortedFiles(AskInputFiles(this, FLastOpenFolder));
}

void TfrmMain::WMDropFiles(const QMimeData& Drop)
{
    QStringList Files;
    GetDroppedFiles(Drop, Files, true, false);
    AddSortedFiles(std::move(Files));
}

void TfrmMain::AddSortedFiles(QStringList Files, bool KeepJoinNote)
{
    SortFileNames(Files);
    // Files that came while a join ran keep its note and Show in Folder.
    FKeepJoinNote = KeepJoinNote;
    AddFiles(Files);
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
    Flow.SaveChapterList = FSaveChapterList;
    Flow.CreateProgress = [this] {
        auto Progress = std::make_unique<TfrmProgress>(this);
        FProgress = Progress.get();
        return Progress;
    };
    Flow.InputChanged = [this](std::size_t Index) { ProbeAgain(lvwFiles->Model(), static_cast<int>(Index)); };
    Flow.InputsMissing = [this] { MarkMissingFiles(lvwFiles->Model()); };
    const std::optional<TJoinFlow::TOutcome> Outcome =
        Flow.Run(lvwFiles->Model().Records(), miRecalcTimecodes->isChecked());
    FLastSaveFolder = Flow.LastSaveFolder;
    FSaveChapterList = Flow.SaveChapterList;
    if (Outcome && QGuiApplication::applicationState() != Qt::ApplicationActive)
        NotifyDesktop(*this, "Vantrel", Outcome->Note);
    if (Outcome) {
        FJoinedText = Outcome->Note;
        FJoinedFile = Outcome->File;
        acnShowInFolder->setVisible(true);
        UpdateStatusBar();
    }
    if (FCloseAfterJoin)
        close();
}

void TfrmMain::acnShowInFolderExecute()
{
    // The answer may come once this window is gone.
    if (!FJoinedFile.isEmpty())
        ShowInFileManager(FJoinedFile, [Window = QPointer(this), File = FJoinedFile] {
            if (Window)
                Window->ShowMessageBox("No file manager is set up to show folders. The joined file is " +
                                           File,
                                       TMessageKind::Information, TMessageButtons::Ok);
        });
}

void TfrmMain::acnPlayExecute()
{
    const int Row = lvwFiles->SelectedRow();
    if (Row < 0)
        return;
    const QString File = lvwFiles->FileName(Row);
    if (!QFileInfo::exists(File)) {
        MarkMissingFiles(lvwFiles->Model());
        ShowMessageBox("The file " + File + " is missing: it was moved or deleted after it was added.",
                       TMessageKind::Warning, TMessageButtons::Ok);
    } else if (!PlayFile(File)) {
        ShowMessageBox(
            "No program to play MPEG files is set up. Choose one for MPEG video in the desktop's settings.",
            TMessageKind::Information, TMessageButtons::Ok);
    }
}

void TfrmMain::miExitClick()
{
    close();
}

void TfrmMain::miHelpTopicsClick()
{
    const QString Manual = ManualFile();
    if (CanShowPage(Manual))
        ShellOpen(Manual);
    else
        ShowMessageBox("No web browser is set up to show the manual. Open the file " + Manual +
                           " in a web browser, or read the manual page in a terminal: man vantrel",
                       TMessageKind::Information, TMessageButtons::Ok);
}

void TfrmMain::miAboutClick()
{
    ShowAboutBox(FProductInfo, this);
}

} // namespace vantrel
