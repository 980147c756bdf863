#include "MainForm.h"

#include "About.h"
#include "FileDlg.h"
#include "ProgressDlg.h"
#include "ShellUtils.h"
#include "join/Vantrel.h"
#include "media/SysUtils.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCollator>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

constexpr int ColFileName = 0, ColFrameSize = 1, ColFrameRate = 2, ColStatus = 3;
// Pointer this close to the top or bottom of the list scrolls it while dragging.
constexpr int DragScrollMargin = 20, DragScrollStep = 10;
constexpr int MinPanelWidth = 50, PanelPadding = 10;

// Runs Action when the scope ends, also when an exception passes.
template <typename F> struct TFinally
{
    F Action;
    ~TFinally() { Action(); }
};
template <typename F> TFinally(F) -> TFinally<F>;

std::string LocalName(const QString& FileName)
{
    return QFile::encodeName(FileName).toStdString();
}

} // namespace

QString FrameSizeText(const TMediaInfo& Info)
{
    return QString("%1 x %2").arg(Info.Width).arg(Info.Height);
}

QString FrameRateText(double FrameRate)
{
    return QLocale().toString(FrameRate, 'f', 2);
}

QString FolderOf(const QString& FileName)
{
    return QFileInfo(FileName).absolutePath();
}

QString WithMpegExtension(const QString& FileName)
{
    const qsizetype Slash = FileName.lastIndexOf('/');
    const qsizetype Dot = FileName.lastIndexOf('.');
    const QString Extension = Dot > Slash ? FileName.mid(Dot) : QString();
    return Extension == ".mpeg" ? FileName : FileName + ".mpeg";
}

TFileListView::TFileListView(TfrmMain& Owner) : QTreeWidget(&Owner), m_Owner(Owner)
{
    setObjectName("lvwFiles");
    setColumnCount(4);
    setHeaderLabels({"File name", "Frame size", "Frame rate", "Status"});
    const int Widths[] = {200, 70, 70, 70};
    for (int I = 0; I < 4; ++I)
        setColumnWidth(I, Widths[I]);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(1, 14)); // every row at least 14 pixels high
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void TFileListView::SetDropTarget(QTreeWidgetItem* Item)
{
    if (Item == m_DropTarget)
        return;
    ClearDropTarget();
    m_DropTarget = Item;
    if (Item)
        for (int I = 0; I < columnCount(); ++I)
            Item->setBackground(I, palette().brush(QPalette::Inactive, QPalette::Highlight));
}

void TFileListView::ClearDropTarget()
{
    if (m_DropTarget)
        for (int I = 0; I < columnCount(); ++I)
            m_DropTarget->setBackground(I, QBrush());
    m_DropTarget = nullptr;
}

void TFileListView::startDrag(Qt::DropActions)
{
    // The drag carries nothing but the fact that it is ours; the move itself
    // happens when it ends, wherever that is.
    auto* Drag = new QDrag(this);
    Drag->setMimeData(new QMimeData);
    Drag->exec(Qt::MoveAction);
    m_Owner.lvwFilesEndDrag();
    ClearDropTarget();
}

void TFileListView::dragEnterEvent(QDragEnterEvent* Event)
{
    if (Event->source() == this || Event->mimeData()->hasUrls())
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TFileListView::dragMoveEvent(QDragMoveEvent* Event)
{
    if (Event->source() == this)
        SetDropTarget(itemAt(Event->position().toPoint()));
    m_Owner.lvwFilesDragOver(Event->source(), Event->position().toPoint().y());
    if (Event->source() == this || Event->mimeData()->hasUrls())
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TFileListView::dragLeaveEvent(QDragLeaveEvent* Event)
{
    // The last row highlighted stays the drop target.
    Event->accept();
}

void TFileListView::dropEvent(QDropEvent* Event)
{
    if (Event->source() == this) {
        Event->acceptProposedAction();
        return;
    }
    if (Event->mimeData()->hasUrls()) {
        Event->acceptProposedAction();
        m_Owner.WMDropFiles(*Event->mimeData());
    }
}

TfrmMain::TfrmMain(const TProductInfo& ProductInfo, QWidget* Parent)
    : QMainWindow(Parent), FProductInfo(ProductInfo)
{
    setObjectName("frmMain");
    setWindowTitle("Vantrel");
    setGeometry(DesignLeft, DesignTop, DesignWidth, DesignHeight);

    lvwFiles = new TFileListView(*this);
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

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    PopupMenu->addAction(acnPlay);
    PopupMenu->setDefaultAction(acnPlay); // shown in bold
    PopupMenu->addSeparator();
    PopupMenu->addAction(acnMoveUp);
    PopupMenu->addAction(acnMoveDown);
    PopupMenu->addSeparator();
    PopupMenu->addAction(acnDelete);

    statusBar()->setObjectName("StatusBar");
    statusBar()->setSizeGripEnabled(true);
    for (int I = 0; I < 3; ++I) {
        StatusPanels[I] = new QLabel(this);
        StatusPanels[I]->setObjectName(QString("StatusPanel%1").arg(I));
        StatusPanels[I]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        StatusPanels[I]->setFixedWidth(MinPanelWidth);
        statusBar()->addWidget(StatusPanels[I]);
    }

    connect(lvwFiles, &QTreeWidget::itemSelectionChanged, this, &TfrmMain::lvwFilesChange);
    connect(lvwFiles, &QTreeWidget::currentItemChanged, this, &TfrmMain::lvwFilesChange);
    connect(lvwFiles, &QTreeWidget::itemChanged, this, &TfrmMain::lvwFilesChange);
    connect(lvwFiles, &QTreeWidget::itemDoubleClicked, this, &TfrmMain::lvwFilesDblClick);
    connect(lvwFiles, &QWidget::customContextMenuRequested, this, &TfrmMain::lvwFilesContextPopup);

    FormCreate();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::CreateActions()
{
    auto Make = [this](const char* Name, const QString& Caption, const QString& Icon,
                       void (TfrmMain::*Handler)()) {
        auto* Action = new QAction(Caption, this);
        Action->setObjectName(Name);
        Action->setToolTip(Caption);
        Action->setStatusTip(Caption);
        if (!Icon.isEmpty())
            Action->setIcon(QIcon(":/icons/" + Icon + ".svg"));
        connect(Action, &QAction::triggered, this, Handler);
        addAction(Action); // shortcuts work while the window is active
        return Action;
    };
    acnAddFiles = Make("acnAddFiles", "Add Files", "add", &TfrmMain::acnAddFilesExecute);
    acnAddFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    acnJoinFile = Make("acnJoinFile", "Join Files", "join", &TfrmMain::acnJoinFileExecute);
    acnJoinFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    acnPlay = Make("acnPlay", "Play", "play", &TfrmMain::acnPlayExecute);
    acnMoveUp = Make("acnMoveUp", "Move Up", "up", &TfrmMain::acnMoveUpExecute);
    acnMoveDown = Make("acnMoveDown", "Move Down", "down", &TfrmMain::acnMoveDownExecute);
    acnDelete = Make("acnDelete", "Delete", "", &TfrmMain::acnDeleteExecute);
    acnDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    acnClear = Make("acnClear", "Clear", "clear", &TfrmMain::acnClearExecute);

    miExit = Make("miExit", "Exit", "", &TfrmMain::miExitClick);
    miHelpTopics = Make("miHelpTopics", "Help Topics", "", &TfrmMain::miHelpTopicsClick);
    miHelpTopics->setShortcut(QKeySequence(Qt::Key_F1));
    miAbout = Make("miAbout", "About", "", &TfrmMain::miAboutClick);
    // A check item: triggering it inverts the check mark, which each join reads.
    miRecalcTimecodes = new QAction("Re-calc Timecodes", this);
    miRecalcTimecodes->setObjectName("miRecalcTimecodes");
    miRecalcTimecodes->setCheckable(true);
    miRecalcTimecodes->setChecked(true);
}

void TfrmMain::CreateMenus()
{
    menuBar()->setObjectName("MainMenu");
    QMenu* File = menuBar()->addMenu("File");
    File->setObjectName("miFile");
    File->addAction(acnAddFiles);
    File->addSeparator();
    File->addAction(acnJoinFile);
    File->addSeparator();
    File->addAction(miExit);
    QMenu* Edit = menuBar()->addMenu("Edit");
    Edit->setObjectName("miEdit");
    Edit->addAction(acnMoveUp);
    Edit->addAction(acnMoveDown);
    Edit->addSeparator();
    Edit->addAction(acnClear);
    Edit->addSeparator();
    Edit->addAction(miRecalcTimecodes);
    QMenu* Help = menuBar()->addMenu("Help");
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
    ToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
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
    const TRegRoot Root = FProductInfo.RegRoot;
    const QString& Base = FProductInfo.RegBaseKey;
    try {
        LoadFormPlacement(Root, PlacementKey(), *this, false);
        FLastOpenFolder = RegReadString(Root, Base, "LastOpenFolder");
        FLastSaveFolder = RegReadString(Root, Base, "LastSaveFolder");
        miRecalcTimecodes->setChecked(RegReadBool(Root, Base, "RecalcTimecodes", true));
    } catch (const Exception& E) {
        // A damaged settings file must not keep the program from starting:
        // say what is wrong and go on with what could be read.
        ShowMessageBox(QString::fromStdString(E.what()), TMessageKind::Warning, TMessageButtons::Ok);
    }
    acnPlay->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    acnMoveUp->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
    acnMoveDown->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));
    setAcceptDrops(true);
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMain::FormDestroy()
{
    const TRegRoot Root = FProductInfo.RegRoot;
    const QString& Base = FProductInfo.RegBaseKey;
    SaveFormPlacement(Root, PlacementKey(), *this);
    // Blank folders are not worth remembering; what the store held stays.
    if (!FLastOpenFolder.trimmed().isEmpty())
        RegWriteString(Root, Base, "LastOpenFolder", FLastOpenFolder);
    if (!FLastSaveFolder.trimmed().isEmpty())
        RegWriteString(Root, Base, "LastSaveFolder", FLastSaveFolder);
    RegWriteBool(Root, Base, "RecalcTimecodes", miRecalcTimecodes->isChecked());
}

void TfrmMain::closeEvent(QCloseEvent* Event)
{
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

TFileItem* TfrmMain::Row(int Index) const
{
    return static_cast<TFileItem*>(lvwFiles->topLevelItem(Index));
}

TFileItem* TfrmMain::Selected() const
{
    const QList<QTreeWidgetItem*> Items = lvwFiles->selectedItems();
    return Items.isEmpty() ? nullptr : static_cast<TFileItem*>(Items.front());
}

void TfrmMain::SelectRow(QTreeWidgetItem* Item)
{
    lvwFiles->setCurrentItem(Item);
    Item->setSelected(true);
    lvwFiles->setFocus();
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

void TfrmMain::UpdateItemStatus(QTreeWidgetItem* Item)
{
    const TMediaInfo& Reference = *Row(0)->Record;
    Item->setText(ColStatus,
                  FormatMatchText(CompareMediaInfo(Reference, *static_cast<TFileItem*>(Item)->Record)));
}

void TfrmMain::UpdateAllStatuses()
{
    for (int I = 0; I < lvwFiles->topLevelItemCount(); ++I)
        UpdateItemStatus(Row(I));
}

void TfrmMain::AddFile(const QString& FileName)
{
    auto Record = std::make_unique<TMediaInfo>();
    ProbeMediaFile(LocalName(FileName), *Record);
    auto* Item = new TFileItem;
    Item->setText(ColFileName, FileName);
    Item->setText(ColFrameSize, FrameSizeText(*Record));
    Item->setText(ColFrameRate, FrameRateText(Record->FrameRate));
    Item->Record = std::move(Record);
    lvwFiles->addTopLevelItem(Item);
    UpdateItemStatus(Item);
}

void TfrmMain::AddFiles(const QStringList& FileNames)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    BeginListUpdate();
    TFinally Restore{[this] {
        QApplication::restoreOverrideCursor();
        EndListUpdate();
    }};
    for (const QString& Name : FileNames) {
        try {
            AddFile(Name);
        } catch (const Exception& E) {
            const QString Prompt = "Unable to add file " + Name + ": " + QString::fromStdString(E.what()) +
                                   ".\r\nDo you want to continue add other files?";
            if (ShowMessageBox(Prompt, TMessageKind::Warning, TMessageButtons::YesNo) != TMessageAnswer::Yes)
                break;
        }
    }
}

void TfrmMain::MoveItem(QTreeWidgetItem* Item, int Target)
{
    const QString Row0Caption = Row(0)->text(ColFileName);
    Target = std::max(Target, 0);
    const int Index = lvwFiles->indexOfTopLevelItem(Item);
    if (Target == Index)
        return;
    const int Insert = Target > Index ? Target + 1 : Target;

    BeginListUpdate();
    TFinally End{[&] {
        EndListUpdate();
        if (Row(0)->text(ColFileName) != Row0Caption)
            UpdateAllStatuses();
    }};
    auto* Moved = new TFileItem;
    if (Insert < lvwFiles->topLevelItemCount())
        lvwFiles->insertTopLevelItem(Insert, Moved);
    else
        lvwFiles->addTopLevelItem(Moved);
    for (int Column = 0; Column < lvwFiles->columnCount(); ++Column)
        Moved->setText(Column, Item->text(Column));
    Moved->Record = std::move(static_cast<TFileItem*>(Item)->Record);
    if (lvwFiles->DropTarget() == Item)
        lvwFiles->ClearDropTarget();
    if (FDropTarget == Item) // the old copy goes: never point at it later
        FDropTarget = nullptr;
    delete Item;
    SelectRow(Moved);
    lvwFiles->scrollToItem(Moved);
}

void TfrmMain::acnMoveUpExecute()
{
    TFileItem* Item = Selected();
    if (!Item || lvwFiles->indexOfTopLevelItem(Item) == 0)
        return;
    MoveItem(Item, lvwFiles->indexOfTopLevelItem(Item) - 1);
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMain::acnMoveDownExecute()
{
    TFileItem* Item = Selected();
    if (!Item || lvwFiles->indexOfTopLevelItem(Item) == lvwFiles->topLevelItemCount() - 1)
        return;
    MoveItem(Item, lvwFiles->indexOfTopLevelItem(Item) + 1);
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMain::acnDeleteExecute()
{
    TFileItem* Item = Selected();
    if (!Item)
        return;
    {
        BeginListUpdate();
        TFinally End{[this] { EndListUpdate(); }};
        int Index = lvwFiles->indexOfTopLevelItem(Item);
        if (lvwFiles->DropTarget() == Item)
            lvwFiles->ClearDropTarget();
        if (FDropTarget == Item)
            FDropTarget = nullptr;
        delete Item; // the row's record goes with it
        if (Index == 0 && lvwFiles->topLevelItemCount() > 0)
            UpdateAllStatuses();
        Index = std::min(Index, lvwFiles->topLevelItemCount() - 1);
        lvwFiles->clearSelection();
        if (Index >= 0)
            SelectRow(Row(Index));
    }
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMain::acnClearExecute()
{
    if (ShowMessageBox("Are you sure you want to remove all files from the list?", TMessageKind::Confirmation,
                       TMessageButtons::YesNo) != TMessageAnswer::Yes)
        return;
    {
        BeginListUpdate();
        TFinally End{[this] { EndListUpdate(); }};
        lvwFiles->ClearDropTarget();
        FDropTarget = nullptr;
        lvwFiles->clear();
    }
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMain::lvwFilesDragOver(QObject* Source, int Y)
{
    FDropTarget = lvwFiles->DropTarget();
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
    TFileItem* Item = Selected();
    if (!Item || !FDropTarget)
        return;
    QTreeWidgetItem* Target = std::exchange(FDropTarget, nullptr);
    MoveItem(Item, lvwFiles->indexOfTopLevelItem(Target));
    UpdateActions();
    UpdateStatusBar();
}

TfrmMain::TCompatibility TfrmMain::CheckCompatibility()
{
    std::vector<const TMediaInfo*> Records;
    for (int I = 0; I < lvwFiles->topLevelItemCount(); ++I)
        Records.push_back(Row(I)->Record.get());
    const TJoinCompatibility Check = CheckJoinCompatibility(Records);
    TCompatibility Result;
    if (Check.Worst == fmVideoDiffers) {
        ShowMessageBox(VideoDiffersMessage, TMessageKind::Information, TMessageButtons::Ok);
        Result.Cancel = true;
    } else if (Check.Worst == fmAudioDiffers) {
        const QString Text = QString(AudioDiffersMessage) + "\r\nDo you want to continue?";
        if (ShowMessageBox(Text, TMessageKind::Confirmation, TMessageButtons::YesNo) == TMessageAnswer::Yes)
            Result.VideoOnly = true;
        else
            Result.Cancel = true;
    } else {
        Result.VideoOnly = Check.HasVideoStream;
    }
    return Result;
}

TMessageAnswer TfrmMain::ShowMessageBox(const QString& Text, TMessageKind Kind, TMessageButtons Buttons)
{
    if (MessageBoxHook)
        return MessageBoxHook(Text, Kind, Buttons);
    static const struct
    {
        const char* Title;
        QMessageBox::Icon Icon;
    } Kinds[] = {{"Warning", QMessageBox::Warning},
                 {"Information", QMessageBox::Information},
                 {"Confirm", QMessageBox::Question}};
    const auto& K = Kinds[static_cast<int>(Kind)];
    // The texts break lines with CR LF; a Qt label wants one LF per break.
    QString Shown = Text;
    Shown.replace("\r\n", "\n");
    QMessageBox Box(K.Icon, K.Title, Shown, QMessageBox::NoButton, this);
    if (Buttons == TMessageButtons::YesNo) {
        Box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        Box.setDefaultButton(QMessageBox::Yes);
        Box.setEscapeButton(QMessageBox::No);
    } else {
        Box.setStandardButtons(QMessageBox::Ok);
        Box.setDefaultButton(QMessageBox::Ok);
        Box.setEscapeButton(QMessageBox::Ok);
    }
    switch (Box.exec()) {
    case QMessageBox::Yes: return TMessageAnswer::Yes;
    case QMessageBox::Ok: return TMessageAnswer::Ok;
    default: return TMessageAnswer::No;
    }
}

void TfrmMain::UpdateActions()
{
    const int Count = lvwFiles->topLevelItemCount();
    TFileItem* Item = Selected();
    const int Index = Item ? lvwFiles->indexOfTopLevelItem(Item) : -1;
    acnJoinFile->setEnabled(Count > 0);
    acnPlay->setEnabled(Item != nullptr);
    acnMoveUp->setEnabled(Item && Index > 0);
    acnMoveDown->setEnabled(Item && Index < Count - 1);
    acnDelete->setEnabled(Item != nullptr);
    acnClear->setEnabled(Count > 0);
}

void TfrmMain::UpdateStatusBar()
{
    if (TFileItem* Item = Selected()) {
        StatusPanels[0]->setText(QFileInfo(Item->text(ColFileName)).fileName());
    } else if (lvwFiles->topLevelItemCount() > 0) {
        StatusPanels[0]->setText(QString::number(lvwFiles->topLevelItemCount()) + " file(s)");
    } else {
        StatusPanels[0]->setText("There are no selected files.");
        StatusPanels[1]->setText("");
    }
    const QFontMetrics Metrics(statusBar()->font());
    for (QLabel* Panel : StatusPanels)
        Panel->setFixedWidth(
            std::max(MinPanelWidth, Metrics.horizontalAdvance(Panel->text()) + PanelPadding));
}

void TfrmMain::lvwFilesChange()
{
    if (FUpdating)
        return;
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMain::acnAddFilesExecute()
{
    TFileOpenDialog Dialog;
    Dialog.OwnerWindow = this;
    if (!FLastOpenFolder.isEmpty())
        Dialog.InitialDir = FLastOpenFolder;
    Dialog.Filter = "MPEG Files|*.mpeg;*.mpg|All Files|*.*";
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
    AddFiles(Files);
    UpdateActions();
    UpdateStatusBar();
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
    const TCompatibility Check = CheckCompatibility();
    if (Check.Cancel)
        return;
    QString OutputName;
    {
        TFileSaveDialog Dialog;
        Dialog.OwnerWindow = this;
        if (!FLastSaveFolder.isEmpty())
            Dialog.InitialDir = FLastSaveFolder;
        Dialog.Filter = "MPEG File|*.mpeg";
        Dialog.Title = "Select the output file name";
        Dialog.DefaultExt = "mpeg";
        if (!Dialog.Execute())
            return;
        FLastSaveFolder = FolderOf(Dialog.FileName);
        OutputName = Dialog.FileName;
    }
    OutputName = WithMpegExtension(OutputName);
    try {
        JoinFiles(OutputName, Check.VideoOnly);
    } catch (const std::exception& E) {
        ShowMessageBox("Join fails: " + QString::fromStdString(E.what()), TMessageKind::Warning,
                       TMessageButtons::Ok);
    }
}

void TfrmMain::JoinFiles(const QString& OutputName, bool VideoOnly)
{
    TVantrel Joiner;
    Joiner.VideoOnly = VideoOnly;
    Joiner.RecalcTimecodes = miRecalcTimecodes->isChecked();
    for (int I = 0; I < lvwFiles->topLevelItemCount(); ++I)
        Joiner.FileNames.push_back(LocalName(Row(I)->text(ColFileName)));
    Joiner.FrameRate = Row(0)->Record->FrameRate;
    Joiner.OutputFileName = LocalName(OutputName);
    Joiner.CreateProgress = [this] { return std::make_unique<TfrmProgress>(this); };
    Joiner.Execute();
}

void TfrmMain::acnPlayExecute()
{
    if (TFileItem* Item = Selected())
        ShellOpen(Item->text(ColFileName));
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
