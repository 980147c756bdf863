#include "ui/FileList.h"

#include "io/SysUtils.h"
#include "probe/JoinRules.h"
#include "probe/MediaText.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <unistd.h>
#include <utility>

namespace vantrel {

namespace {

// The wait cursor for as long as the object lives.
struct TBusyCursor
{
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// Whether Esc was pressed while it watched the application's events.
class TEscapeWatch : public QObject
{
public:
    bool Pressed = false;

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Escape)
            Pressed = true;
        return false;
    }
};

// A text of the core's with the user's decimal separator: a point between
// two digits is one ("44.1 kHz", "0:00:02.01", "488.0 KB").
QString Localized(const std::string& Text)
{
    QString Result = QString::fromStdString(Text);
    const QString Point = QLocale().decimalPoint();
    for (qsizetype I = Result.size() - 2; I > 0; --I)
        if (Result[I] == '.' && Result[I - 1].isDigit() && Result[I + 1].isDigit())
            Result.replace(I, 1, Point);
    return Result;
}

// A message ends with one full stop, whether or not its last part had one.
QString Sentence(QString Text)
{
    if (!Text.endsWith('.') && !Text.endsWith('!') && !Text.endsWith('?'))
        Text += '.';
    return Text;
}

bool AcceptsDrag(const QObject* Source, const QMimeData* Data, const QObject* List)
{
    return Source == List || Data->hasUrls();
}

} // namespace

QString FrameSizeText(const TMediaInfo& Info)
{
    // MPEG-2 says its shape and version too: "720 x 576 16:9 MPEG-2".
    const std::string Video = VideoText(Info);
    const std::size_t Fps = Video.find(" fps ");
    return QString("%1 x %2").arg(Info.Width).arg(Info.Height) +
           (Fps == std::string::npos ? QString() : QString::fromStdString(Video.substr(Fps + 4)));
}

QString FrameRateText(double FrameRate)
{
    return QLocale().toString(FrameRate, 'f', 2);
}

int TFileListModel::rowCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : Count();
}

int TFileListModel::columnCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : lcCount;
}

QString TFileListModel::StatusText(int Row) const
{
    const TRow& R = m_Rows[static_cast<std::size_t>(Row)];
    if (R.Missing)
        return "Missing";
    return R.Unreadable.isEmpty() ? FormatMatchText(CompareMediaInfo(Record(0).Info, R.Record.Info))
                                  : QString("Unreadable");
}

QVariant TFileListModel::data(const QModelIndex& Index, int Role) const
{
    if (!Index.isValid() || Index.row() >= Count())
        return {};
    const TRow& R = m_Rows[static_cast<std::size_t>(Index.row())];
    const TMediaInfo& Info = R.Record.Info;
    const TMediaInfo& Reference = Record(0).Info;
    const int Column = Index.column();
    if (Role == Qt::DisplayRole) {
        switch (Column) {
        case lcFileName: return FileName(Index.row());
        case lcFrameSize: return FrameSizeText(Info);
        case lcFrameRate: return FrameRateText(Info.FrameRate);
        case lcDuration: return Localized(DurationText(Info.Duration));
        case lcAudio: return Localized(AudioText(Info));
        case lcStatus: return StatusText(Index.row());
        }
    }
    // Cells a narrow window elides are whole in their tips.
    if (Role == Qt::ToolTipRole && Column == lcFileName)
        return FileName(Index.row());
    if (Role == Qt::ToolTipRole && Column == lcAudio)
        return Localized(AudioText(Info));
    if (Role == Qt::ToolTipRole && Column == lcFrameSize && Info.MPEGVersion == 2)
        return QString::fromStdString(VideoDetailText(Info));
    if (Role == Qt::ToolTipRole && Column == lcStatus && R.Missing)
        return QString("The file was moved or deleted.");
    if (Role == Qt::ToolTipRole && Column == lcStatus)
        return R.Unreadable.isEmpty() ? QString::fromStdString(DifferenceText(Reference, Info))
                                      : R.Unreadable;
    // A file that joins but will look stretched is marked, not refused.
    if (Role == Qt::DecorationRole && Column == lcStatus && R.Unreadable.isEmpty() &&
        AspectRatioDiffers(Reference, Info))
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    if (Role == Qt::TextAlignmentRole && Column == lcDuration)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TFileListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    static const char* const Titles[lcCount] = {"File name", "Frame size", "Frame rate",
                                                "Duration",  "Audio",      "Status"};
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= lcCount)
        return {};
    if (Role == Qt::DisplayRole)
        return QString(Titles[Section]);
    if (Role == Qt::TextAlignmentRole && Section == lcDuration)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& Index) const
{
    return Index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled
                           : Qt::ItemIsDropEnabled;
}

QString TFileListModel::TotalsText() const
{
    double Seconds = 0;
    for (const TRow& R : m_Rows)
        Seconds += R.Record.Info.Duration;
    return QString("%1 %2, %3")
        .arg(QLocale().toString(Count()))
        .arg(Count() == 1 ? "file" : "files")
        .arg(Localized(DurationText(Seconds)));
}

QString TFileListModel::SizeText() const
{
    std::int64_t Bytes = 0;
    for (const TRow& R : m_Rows)
        Bytes += R.Record.Identity.Size;
    return Localized(ByteSizeText(Bytes));
}

std::vector<TInputRecord> TFileListModel::Records() const
{
    std::vector<TInputRecord> Result;
    for (const TRow& R : m_Rows)
        Result.push_back(R.Record);
    return Result;
}

void TFileListModel::StatusesChanged()
{
    if (Count() > 0)
        emit dataChanged(index(0, lcStatus), index(Count() - 1, lcStatus));
}

void TFileListModel::Append(TInputRecord Record)
{
    m_Undo.reset();
    beginInsertRows({}, Count(), Count());
    m_Rows.push_back({std::move(Record), {}});
    endInsertRows();
}

void TFileListModel::SetRecord(int Row, TInputRecord Record)
{
    m_Rows[static_cast<std::size_t>(Row)] = {std::move(Record), {}};
    emit dataChanged(index(Row, 0), index(Row, lcCount - 1));
    if (Row == 0)
        StatusesChanged();
}

void TFileListModel::SetUnreadable(int Row, const QString& Why)
{
    m_Rows[static_cast<std::size_t>(Row)].Unreadable = Why;
    emit dataChanged(index(Row, lcStatus), index(Row, lcStatus));
}

void TFileListModel::SetMissing(int Row, bool Missing)
{
    if (std::exchange(m_Rows[static_cast<std::size_t>(Row)].Missing, Missing) != Missing)
        emit dataChanged(index(Row, lcStatus), index(Row, lcStatus));
}

void TFileListModel::Remove(std::vector<int> Rows)
{
    std::sort(Rows.begin(), Rows.end(), std::greater<>());
    Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
    if (!Rows.empty())
        m_Undo = m_Rows;
    bool FirstGone = false;
    for (const int Row : Rows) {
        beginRemoveRows({}, Row, Row);
        m_Rows.erase(m_Rows.begin() + Row);
        endRemoveRows();
        FirstGone = FirstGone || Row == 0;
    }
    if (FirstGone)
        StatusesChanged();
}

std::vector<int> TFileListModel::Move(std::vector<int> Rows, int Target)
{
    std::sort(Rows.begin(), Rows.end());
    Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
    if (Rows.empty())
        return {};
    const int Moved = static_cast<int>(Rows.size());
    Target = std::clamp(Target, 0, Count() - Moved);
    if (Rows.front() == Target && Rows.back() == Target + Moved - 1)
        return {}; // they stand there already
    m_Undo = m_Rows;
    std::vector<TRow> Taken, Rest;
    for (int I = 0, K = 0; I < Count(); ++I) {
        if (K < Moved && Rows[static_cast<std::size_t>(K)] == I) {
            Taken.push_back(std::move(m_Rows[static_cast<std::size_t>(I)]));
            ++K;
        } else {
            Rest.push_back(std::move(m_Rows[static_cast<std::size_t>(I)]));
        }
    }
    // Persistent indexes (the selection, the drop target) follow their rows.
    emit layoutAboutToBeChanged();
    std::vector<int> NewRow(m_Rows.size());
    for (int I = 0, Kept = 0, K = 0; I < Count(); ++I) {
        const bool IsMoved = K < Moved && Rows[static_cast<std::size_t>(K)] == I;
        NewRow[static_cast<std::size_t>(I)] = IsMoved         ? Target + K++
                                              : Kept < Target ? Kept++
                                                              : Moved + Kept++;
    }
    Rest.insert(Rest.begin() + Target, std::make_move_iterator(Taken.begin()),
                std::make_move_iterator(Taken.end()));
    m_Rows = std::move(Rest);
    const QModelIndexList Old = persistentIndexList();
    QModelIndexList New;
    for (const QModelIndex& Index : Old)
        New << index(NewRow[static_cast<std::size_t>(Index.row())], Index.column());
    changePersistentIndexList(Old, New);
    emit layoutChanged();
    std::vector<int> Result(Rows.size());
    for (int K = 0; K < Moved; ++K)
        Result[static_cast<std::size_t>(K)] = Target + K;
    return Result;
}

void TFileListModel::Clear()
{
    beginResetModel();
    m_Undo = std::move(m_Rows);
    m_Rows.clear();
    endResetModel();
}

void TFileListModel::Undo()
{
    if (!m_Undo)
        return;
    beginResetModel();
    m_Rows = std::move(*m_Undo);
    m_Undo.reset();
    endResetModel();
}

TFileListView::TFileListView(QWidget* Parent) : QTreeView(Parent), m_Model(new TFileListModel(this))
{
    setObjectName("lvwFiles");
    setModel(m_Model);
    // The name takes the spare width, elided in the middle: the end of a path
    // is what tells clips apart. The other columns fit their texts in the
    // font of the day until the user sets a width of their own.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(lcFileName, QHeaderView::Stretch);
    m_FitTimer.setSingleShot(true);
    connect(&m_FitTimer, &QTimer::timeout, this, &TFileListView::FitColumns);
    const auto Fit = [this] { m_FitTimer.start(0); };
    connect(m_Model, &QAbstractItemModel::rowsInserted, this, Fit);
    connect(m_Model, &QAbstractItemModel::rowsRemoved, this, Fit);
    connect(m_Model, &QAbstractItemModel::modelReset, this, Fit);
    connect(m_Model, &QAbstractItemModel::dataChanged, this, Fit);
    connect(header(), &QHeaderView::sectionResized, this, [this](int Column) {
        if (!m_Fitting && Column != lcFileName)
            m_UserWidth[static_cast<std::size_t>(Column)] = true;
    });
    FitColumns();
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    setTextElideMode(Qt::ElideMiddle);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    // Shift and Ctrl pick several rows; moves and removal act on them all.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    // Every row at least 14 pixels high; a status may carry a warning sign.
    setIconSize(QSize(14, 14));
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void TFileListView::AddFile(const QString& FileName)
{
    m_Model->Append(ProbeInput(EncodeFileName(FileName).toStdString()));
}

void TFileListView::AddFiles(const QStringList& FileNames, const TAskToGoOn& Ask)
{
    std::optional<TBusyCursor> Busy(std::in_place);
    QElapsedTimer SincePaint;
    SincePaint.start();
    bool Skipping = false;
    for (qsizetype I = 0; I < FileNames.size(); ++I) {
        try {
            AddFile(FileNames[I]);
        } catch (const Exception& E) {
            if (Skipping)
                continue;
            // While the question is open the rows added so far show, under
            // the normal pointer.
            Busy.reset();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            const bool Several = FileNames.size() - I > 2;
            const TMessageAnswer Answer =
                Ask("Unable to add file " + FileNames[I] + ": " + Sentence(QString::fromStdString(E.what())) +
                        "\r\nDo you want to continue add other files?",
                    Several ? TMessageButtons::YesSkipAllNo : TMessageButtons::YesNo);
            if (Answer != TMessageAnswer::Yes && Answer != TMessageAnswer::SkipAll)
                break;
            Skipping = Answer == TMessageAnswer::SkipAll;
            Busy.emplace();
        }
        // A long list keeps the window painted; commands wait until it is done.
        if (SincePaint.elapsed() > 100) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            SincePaint.restart();
        }
    }
}

void TFileListView::Reprobe(int Row)
{
    if (Row < 0 || Row >= Count())
        return;
    try {
        m_Model->SetRecord(Row, ProbeInput(Record(Row).FileName));
    } catch (const Exception& E) {
        m_Model->SetUnreadable(Row, QString::fromStdString(E.what()));
    }
}

void TFileListView::FitColumns()
{
    m_Fitting = true;
    int Others = 0;
    for (int I = lcFileName + 1; I < lcCount; ++I) {
        if (!m_UserWidth[static_cast<std::size_t>(I)])
            resizeColumnToContents(I);
        Others += columnWidth(I);
    }
    // In a narrow window the sound's long description gives way before the
    // names do: they keep room for a good part of a path.
    const int NameRoom = fontMetrics().averageCharWidth() * 24;
    if (const int Short = Others + NameRoom - viewport()->width(); Short > 0 && !m_UserWidth[lcAudio])
        setColumnWidth(lcAudio, std::max(header()->sectionSizeHint(lcAudio), columnWidth(lcAudio) - Short));
    m_Fitting = false;
}

void TFileListView::keyPressEvent(QKeyEvent* Event)
{
    // The menu keys open the list's menu at the current row, not where the
    // pointer happens to be.
    if (Event->key() == Qt::Key_Menu ||
        (Event->key() == Qt::Key_F10 && Event->modifiers() == Qt::ShiftModifier)) {
        const QModelIndex Current = currentIndex();
        const QRect Row = Current.isValid() ? visualRect(Current) : QRect();
        emit customContextMenuRequested(Row.isValid() ? QPoint(Row.left() + 20, Row.center().y())
                                                      : viewport()->rect().center());
        Event->accept();
        return;
    }
    QTreeView::keyPressEvent(Event);
}

void TFileListView::resizeEvent(QResizeEvent* Event)
{
    QTreeView::resizeEvent(Event);
    m_FitTimer.start(0);
}

void TFileListView::changeEvent(QEvent* Event)
{
    QTreeView::changeEvent(Event);
    if (Event->type() == QEvent::FontChange || Event->type() == QEvent::StyleChange)
        m_FitTimer.start(0);
}

void TFileListView::MarkMissingFiles()
{
    for (int Row = 0; Row < Count(); ++Row)
        m_Model->SetMissing(Row, ::access(Record(Row).FileName.c_str(), F_OK) != 0);
}

QString TFileListView::ColumnWidths() const
{
    QStringList Widths;
    for (int I = lcFileName + 1; I < lcCount; ++I)
        Widths << QString::number(m_UserWidth[static_cast<std::size_t>(I)] ? columnWidth(I) : 0);
    return Widths.join(',');
}

bool TFileListView::SetColumnWidths(const QString& Text)
{
    const QStringList Widths = Text.split(',', Qt::SkipEmptyParts);
    std::vector<int> Values;
    for (const QString& Width : Widths) {
        bool Ok = false;
        Values.push_back(Width.trimmed().toInt(&Ok));
        if (!Ok || Values.back() < 0 || Values.size() + 1 > lcCount)
            return false;
    }
    // Earlier versions stored their fixed widths whether or not the user
    // changed them: those fit the texts as if nothing were stored.
    if (Text == "75,70,80,215,90")
        Values.clear();
    m_UserWidth.fill(false);
    for (std::size_t I = 0; I < Values.size(); ++I)
        if (Values[I] > 0) {
            m_UserWidth[I + 1] = true;
            setColumnWidth(static_cast<int>(I) + 1, Values[I]);
        }
    FitColumns();
    return true;
}

std::vector<int> TFileListView::SelectedRows() const
{
    std::vector<int> Rows;
    for (const QModelIndex& Index : selectionModel()->selectedRows())
        Rows.push_back(Index.row());
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

int TFileListView::SelectedRow() const
{
    const std::vector<int> Rows = SelectedRows();
    return Rows.empty() ? -1 : Rows.front();
}

void TFileListView::SelectRows(const std::vector<int>& Rows)
{
    QItemSelection Selection;
    for (const int Row : Rows)
        Selection.select(m_Model->index(Row, 0), m_Model->index(Row, lcCount - 1));
    selectionModel()->select(Selection, QItemSelectionModel::ClearAndSelect);
    if (!Rows.empty()) {
        selectionModel()->setCurrentIndex(m_Model->index(Rows.front(), 0), QItemSelectionModel::NoUpdate);
        scrollTo(m_Model->index(Rows.back(), 0));
        scrollTo(m_Model->index(Rows.front(), 0));
    }
}

void TFileListView::SelectRow(int Row)
{
    SelectRows({Row});
    setFocus();
}

void TFileListView::MoveRows(const std::vector<int>& Rows, int Target)
{
    if (const std::vector<int> Moved = m_Model->Move(Rows, Target); !Moved.empty()) {
        SelectRows(Moved);
        setFocus();
    }
}

void TFileListView::RemoveRows(const std::vector<int>& Rows)
{
    if (Rows.empty())
        return;
    const int First = *std::min_element(Rows.begin(), Rows.end());
    m_Model->Remove(Rows);
    clearSelection();
    if (Count() > 0)
        SelectRow(std::min(First, Count() - 1));
}

int TFileListView::DropTarget() const
{
    return m_DropTarget.isValid() ? m_DropTarget.row() : -1;
}

void TFileListView::SetDropTarget(int Row)
{
    const QModelIndex Index = Row >= 0 ? m_Model->index(Row, 0) : QModelIndex();
    if (Index == m_DropTarget)
        return;
    m_DropTarget = Index;
    viewport()->update();
}

void TFileListView::paintEvent(QPaintEvent* Event)
{
    QTreeView::paintEvent(Event);
    // An empty list says how to fill it.
    if (Count() == 0) {
        QPainter Painter(viewport());
        Painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        Painter.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextWordWrap, EmptyHint);
        return;
    }
    if (!m_DropTarget.isValid())
        return;
    // An outline, so that the target never looks like the selection.
    const QRect Row = visualRect(m_DropTarget);
    QPainter Painter(viewport());
    Painter.setPen(QPen(palette().color(QPalette::Highlight), 2, Qt::DashLine));
    Painter.drawRect(QRect(1, Row.top() + 1, viewport()->width() - 3, Row.height() - 2));
}

bool TFileListView::MoveToDropTarget()
{
    const std::vector<int> Rows = SelectedRows();
    const int Target = DropTarget();
    ClearDropTarget();
    if (Rows.empty() || Target < 0)
        return false;
    // The rows land where the target row stood: before it when they came
    // from below, after it when they came from above.
    const auto Above = std::count_if(Rows.begin(), Rows.end(), [Target](int Row) { return Row < Target; });
    MoveRows(Rows, Target - static_cast<int>(Above) + (Above > 0 ? 1 : 0));
    return true;
}

void TFileListView::startDrag(Qt::DropActions)
{
    // The drag carries nothing but the fact that it is ours; the move itself
    // happens when it ends, wherever that is.
    auto* Drag = new QDrag(this);
    Drag->setMimeData(new QMimeData);
    // Esc ends a drag as a drop outside the list would; only the key says
    // which it was. The watch goes in once the drag runs, so that it sees the
    // key before the drag's own handling takes it.
    TEscapeWatch Watch;
    QTimer::singleShot(0, &Watch, [&Watch] { QCoreApplication::instance()->installEventFilter(&Watch); });
    Drag->exec(Qt::MoveAction);
    if (Watch.Pressed) {
        ClearDropTarget();
        return;
    }
    if (MoveToDropTarget())
        emit RowsDragged();
}

void TFileListView::dragEnterEvent(QDragEnterEvent* Event)
{
    if (AcceptsDrag(Event->source(), Event->mimeData(), this))
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TFileListView::dragMoveEvent(QDragMoveEvent* Event)
{
    const QPoint Point = Event->position().toPoint();
    if (Event->source() == this) {
        if (const QModelIndex Index = indexAt(Point); Index.isValid())
            SetDropTarget(Index.row());
        // Near the top or the bottom the list scrolls to rows out of sight.
        constexpr int Margin = 20, Step = 10;
        QScrollBar* Bar = verticalScrollBar();
        if (Point.y() < Margin)
            Bar->setValue(Bar->value() - Step);
        if (Point.y() > viewport()->height() - Margin)
            Bar->setValue(Bar->value() + Step);
    }
    if (AcceptsDrag(Event->source(), Event->mimeData(), this))
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
        emit FilesDropped(Event->mimeData());
    }
}

} // namespace vantrel
