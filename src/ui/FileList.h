// The list of files to join: one row a file, in join order, each holding its
// name and what its probe found as item data. The cells only show them.
#pragma once

#include "media/MPEGInfo.h"

#include <QPersistentModelIndex>
#include <QTreeWidget>
#include <vector>

class QMimeData;

Q_DECLARE_METATYPE(vantrel::TMediaInfo)

namespace vantrel {

enum TFileListColumn
{
    lcFileName,
    lcFrameSize,
    lcFrameRate,
    lcDuration,
    lcAudio,
    lcStatus,
    lcCount
};

// Texts of the list's cells.
QString FrameSizeText(const TMediaInfo& Info);
QString FrameRateText(double FrameRate);

// The report list. It tells its owner what happened through signals: a drag
// moved over it, its own drag ended, files were dropped on it.
class TFileListView : public QTreeWidget
{
    Q_OBJECT
public:
    explicit TFileListView(QWidget* Parent = nullptr);

    // Probes the file and appends its row; the probe's exception passes on
    // and no row is made.
    void AddFile(const QString& FileName);
    // Appends a row for a file probed elsewhere.
    void AddRecord(const QString& FileName, const TMediaInfo& Info);
    int Count() const { return topLevelItemCount(); }
    QString FileName(int Row) const;
    TMediaInfo Record(int Row) const;
    // The file's size when its row was made.
    std::int64_t FileSize(int Row) const;
    // Every row's file name and record, in join order.
    QStringList FileNames() const;
    std::vector<TMediaInfo> Records() const;
    QString StatusText(int Row) const { return topLevelItem(Row)->text(lcStatus); }

    // The selected row, or -1.
    int SelectedRow() const;
    // Selects the row, makes it current and gives the list the focus.
    void SelectRow(int Row);
    // Moves the row so that it ends at Target (0 when negative, the end when
    // past it); selects it and scrolls to it. Statuses are computed anew when
    // another file comes to stand in row 0.
    void MoveRow(int Row, int Target);
    // Deletes the row; when it was row 0 the next row becomes the reference.
    void RemoveRow(int Row);
    // The status cell of a row against row 0, with why it differs as its tip.
    void UpdateRowStatus(int Row);
    void UpdateAllStatuses();
    // Shows what a row's file holds now.
    void SetRecord(int Row, const TMediaInfo& Info);
    // Probes a row's file again and shows what it holds now, or, when it
    // cannot be read any more, says so in its status.
    void Reprobe(int Row);

    // The widths of the columns after the name (which takes what is left),
    // as "75,70,80,215,90", for the settings; false for a text that is none.
    QString ColumnWidths() const;
    bool SetColumnWidths(const QString& Widths);

    // The row highlighted as the drop target during a drag, or the last one
    // highlighted before the pointer left the list; -1 when none. A row that
    // goes away takes its highlight with it.
    int DropTarget() const;
    void SetDropTarget(int Row);
    void ClearDropTarget();

signals:
    // A drag moved over the list, Y in the list's coordinates.
    void DraggedOver(QObject* Source, int Y);
    // A drag of the list's own row ended, wherever it ended.
    void DragEnded();
    // Files from the desktop were dropped on the list.
    void FilesDropped(const QMimeData* Drop);

protected:
    void startDrag(Qt::DropActions Actions) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dragLeaveEvent(QDragLeaveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;

private:
    QTreeWidgetItem* Row0() const { return topLevelItem(0); }
    void ShowRecord(QTreeWidgetItem* Item, const TMediaInfo& Info);

    QPersistentModelIndex m_DropTarget;
};

} // namespace vantrel
