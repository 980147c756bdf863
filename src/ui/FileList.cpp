#include "ui/FileList.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>

namespace vantrel {

namespace {

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

// The name column: a path too long for its cell keeps the file's own name
// whole and gives up the middle of its folders.
class TPathDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* Option, const QModelIndex& Index) const override
    {
        QStyledItemDelegate::initStyleOption(Option, Index);
        const QStyle* Style = Option->widget ? Option->widget->style() : QApplication::style();
        const int Margin = Style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, Option->widget) + 1;
        Option->text = ElidedPath(Option->text, Option->fontMetrics, Option->rect.width() - 2 * Margin);
    }
};

bool AcceptsDrag(const QObject* Source, const QMimeData* Data, const QObject* List)
{
    return Source == List || Data->hasUrls();
}

} // namespace

QString ElidedPath(const QString& Path, const QFontMetrics& Metrics, int Width)
{
    if (Metrics.horizontalAdvance(Path) <= Width)
        return Path;
    const qsizetype Slash = Path.lastIndexOf('/');
    const QString Name = Path.mid(Slash); // "/beach.mpg"
    const int Room = Width - Metrics.horizontalAdvance(Name);
    if (Slash <= 0 || Room < Metrics.horizontalAdvance(QString(QChar(0x2026)) + "/"))
        return Metrics.elidedText(Path.mid(Slash + 1), Qt::ElideMiddle, Width);
    return Metrics.elidedText(Path.left(Slash), Qt::ElideMiddle, Room) + Name;
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
    setItemDelegateForColumn(lcFileName, new TPathDelegate(this));
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

void TFileListView::FitColumns()
{
    m_Fitting = true;
    int Others = 0;
    for (int I = lcFileName + 1; I < lcCount; ++I) {
        if (!m_UserWidth[static_cast<std::size_t>(I)])
            resizeColumnToContents(I);
        Others += columnWidth(I);
    }
    // In a narrow window (a small screen, a large scale) the names keep room
    // for a readable path and the other columns give way: first the sound's
    // long description, then each caption wider than its cells ("Frame
    // rate" over "25.00"), which is then cut; every cell stays whole in its tip.
    const int Char = fontMetrics().averageCharWidth();
    int Short = Others + Char * NameChars - viewport()->width();
    auto GiveWay = [&](int Column, int Least) {
        if (Short <= 0 || m_UserWidth[static_cast<std::size_t>(Column)] || columnWidth(Column) <= Least)
            return;
        const int Width = std::max(Least, columnWidth(Column) - Short);
        Short -= columnWidth(Column) - Width;
        setColumnWidth(Column, Width);
    };
    GiveWay(lcAudio, header()->sectionSizeHint(lcAudio));
    for (const int Column : {lcFrameRate, lcDuration, lcStatus, lcFrameSize})
        GiveWay(Column, sizeHintForColumn(Column));
    GiveWay(lcAudio, Char * 6);
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

void TFileListView::SelectRow(int Row)
{
    const QModelIndex Index = m_Model->index(Row, 0);
    selectionModel()->select(QItemSelection(Index, m_Model->index(Row, lcCount - 1)),
                             QItemSelectionModel::ClearAndSelect);
    selectionModel()->setCurrentIndex(Index, QItemSelectionModel::NoUpdate);
    scrollTo(Index);
    setFocus();
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
    emit RowsDragged(Rows, Target - static_cast<int>(Above) + (Above > 0 ? 1 : 0));
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
    MoveToDropTarget();
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
