#include "FileList.h"

#include "media/SysUtils.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QStyle>

namespace vantrel {

namespace {

constexpr int FileNameRole = Qt::UserRole, RecordRole = Qt::UserRole + 1, SizeRole = Qt::UserRole + 2;

bool AcceptsDrag(const QObject* Source, const QMimeData* Data, const QObject* List)
{
    return Source == List || Data->hasUrls();
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

TFileListView::TFileListView(QWidget* Parent) : QTreeWidget(Parent)
{
    setObjectName("lvwFiles");
    setColumnCount(lcCount);
    setHeaderLabels({"File name", "Frame size", "Frame rate", "Duration", "Audio", "Status"});
    const int Widths[lcCount] = {200, 75, 70, 80, 215, 90};
    for (int I = 0; I < lcCount; ++I)
        setColumnWidth(I, Widths[I]);
    // The name takes the spare width, elided in the middle: the end of a path
    // is what tells clips apart.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(lcFileName, QHeaderView::Stretch);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    headerItem()->setTextAlignment(lcDuration, Qt::AlignRight | Qt::AlignVCenter);
    setTextElideMode(Qt::ElideMiddle);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
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
    TMediaInfo Info;
    ProbeMediaFile(QFile::encodeName(FileName).toStdString(), Info);
    AddRecord(FileName, Info);
}

void TFileListView::AddRecord(const QString& FileName, const TMediaInfo& Info)
{
    auto* Item = new QTreeWidgetItem;
    Item->setData(lcFileName, FileNameRole, FileName);
    Item->setText(lcFileName, FileName);
    Item->setToolTip(lcFileName, FileName);
    ShowRecord(Item, Info);
    addTopLevelItem(Item);
    UpdateRowStatus(Count() - 1);
}

void TFileListView::ShowRecord(QTreeWidgetItem* Item, const TMediaInfo& Info)
{
    Item->setData(lcFileName, RecordRole, QVariant::fromValue(Info));
    Item->setData(lcFileName, SizeRole, QFileInfo(Item->data(lcFileName, FileNameRole).toString()).size());
    Item->setText(lcFrameSize, FrameSizeText(Info));
    Item->setText(lcFrameRate, FrameRateText(Info.FrameRate));
    Item->setText(lcDuration, QString::fromStdString(DurationText(Info.Duration)));
    Item->setText(lcAudio, QString::fromStdString(AudioText(Info)));
    Item->setTextAlignment(lcDuration, Qt::AlignRight | Qt::AlignVCenter);
}

void TFileListView::SetRecord(int Row, const TMediaInfo& Info)
{
    ShowRecord(topLevelItem(Row), Info);
    if (Row == 0)
        UpdateAllStatuses();
    else
        UpdateRowStatus(Row);
}

void TFileListView::Reprobe(int Row)
{
    if (Row < 0 || Row >= Count())
        return;
    try {
        TMediaInfo Info;
        ProbeMediaFile(QFile::encodeName(FileName(Row)).toStdString(), Info);
        SetRecord(Row, Info);
    } catch (const Exception& E) {
        topLevelItem(Row)->setText(lcStatus, "Unreadable");
        topLevelItem(Row)->setToolTip(lcStatus, QString::fromStdString(E.what()));
    }
}

QString TFileListView::ColumnWidths() const
{
    QStringList Widths;
    for (int I = lcFileName + 1; I < lcCount; ++I)
        Widths << QString::number(columnWidth(I));
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
    for (std::size_t I = 0; I < Values.size(); ++I)
        setColumnWidth(static_cast<int>(I) + 1, Values[I]);
    return true;
}

QString TFileListView::FileName(int Row) const
{
    return topLevelItem(Row)->data(lcFileName, FileNameRole).toString();
}

std::int64_t TFileListView::FileSize(int Row) const
{
    return topLevelItem(Row)->data(lcFileName, SizeRole).toLongLong();
}

TMediaInfo TFileListView::Record(int Row) const
{
    return topLevelItem(Row)->data(lcFileName, RecordRole).value<TMediaInfo>();
}

QStringList TFileListView::FileNames() const
{
    QStringList Names;
    for (int I = 0; I < Count(); ++I)
        Names << FileName(I);
    return Names;
}

std::vector<TMediaInfo> TFileListView::Records() const
{
    std::vector<TMediaInfo> Result;
    for (int I = 0; I < Count(); ++I)
        Result.push_back(Record(I));
    return Result;
}

void TFileListView::UpdateRowStatus(int Row)
{
    const TMediaInfo Reference = Record(0), Info = Record(Row);
    QTreeWidgetItem* Item = topLevelItem(Row);
    Item->setText(lcStatus, FormatMatchText(CompareMediaInfo(Reference, Info)));
    Item->setToolTip(lcStatus, QString::fromStdString(DifferenceText(Reference, Info)));
    // A file that joins but will look stretched is marked, not refused.
    Item->setIcon(lcStatus, AspectRatioDiffers(Reference, Info)
                                ? style()->standardIcon(QStyle::SP_MessageBoxWarning)
                                : QIcon());
}

void TFileListView::UpdateAllStatuses()
{
    for (int I = 0; I < Count(); ++I)
        UpdateRowStatus(I);
}

int TFileListView::SelectedRow() const
{
    const QList<QTreeWidgetItem*> Items = selectedItems();
    return Items.isEmpty() ? -1 : indexOfTopLevelItem(Items.front());
}

void TFileListView::SelectRow(int Row)
{
    QTreeWidgetItem* Item = topLevelItem(Row);
    setCurrentItem(Item);
    Item->setSelected(true);
    setFocus();
}

void TFileListView::MoveRow(int Row, int Target)
{
    Target = std::clamp(Target, 0, Count() - 1);
    if (Target == Row)
        return;
    QTreeWidgetItem* const First = Row0();
    QTreeWidgetItem* Item = takeTopLevelItem(Row);
    insertTopLevelItem(Target, Item);
    SelectRow(Target);
    scrollToItem(Item);
    if (Row0() != First)
        UpdateAllStatuses();
}

void TFileListView::RemoveRow(int Row)
{
    delete takeTopLevelItem(Row);
    if (Row == 0 && Count() > 0)
        UpdateAllStatuses();
}

int TFileListView::DropTarget() const
{
    return m_DropTarget.isValid() ? m_DropTarget.row() : -1;
}

void TFileListView::SetDropTarget(int Row)
{
    const QModelIndex Index = Row >= 0 ? model()->index(Row, 0) : QModelIndex();
    if (Index == m_DropTarget)
        return;
    m_DropTarget = Index;
    viewport()->update();
}

void TFileListView::ClearDropTarget()
{
    SetDropTarget(-1);
}

void TFileListView::paintEvent(QPaintEvent* Event)
{
    QTreeWidget::paintEvent(Event);
    if (!m_DropTarget.isValid())
        return;
    // An outline, so that the target never looks like the selection.
    const QRect Row = visualRect(m_DropTarget);
    QPainter Painter(viewport());
    Painter.setPen(QPen(palette().color(QPalette::Highlight), 2, Qt::DashLine));
    Painter.drawRect(QRect(1, Row.top() + 1, viewport()->width() - 3, Row.height() - 2));
}

void TFileListView::startDrag(Qt::DropActions)
{
    // The drag carries nothing but the fact that it is ours; the move itself
    // happens when it ends, wherever that is.
    auto* Drag = new QDrag(this);
    Drag->setMimeData(new QMimeData);
    Drag->exec(Qt::MoveAction);
    emit DragEnded();
    ClearDropTarget();
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
    if (Event->source() == this)
        if (QTreeWidgetItem* Item = itemAt(Point))
            SetDropTarget(indexOfTopLevelItem(Item));
    emit DraggedOver(Event->source(), Point.y());
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
