// The list of files to join: a model of one input record a row, in join
// order, and the report view that shows it, sorts nothing and moves rows by
// dragging.
#pragma once

#include "probe/MPEGInfo.h"
#include "ui/FileNames.h"
#include "ui/MessageBox.h"

#include <QAbstractTableModel>
#include <QPersistentModelIndex>
#include <QTimer>
#include <QTreeView>
#include <array>
#include <functional>
#include <optional>
#include <vector>

class QMimeData;

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

// The rows. Each status is worked out against row 0 when it is shown, so
// it can never be stale after a move, a removal or a new first file.
class TFileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& Parent = {}) const override;
    int columnCount(const QModelIndex& Parent = {}) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& Index) const override;

    int Count() const { return static_cast<int>(m_Rows.size()); }
    const TInputRecord& Record(int Row) const { return m_Rows[static_cast<std::size_t>(Row)].Record; }
    QString FileName(int Row) const
    {
        return DecodeFileName(QByteArray::fromStdString(Record(Row).FileName));
    }
    std::vector<TInputRecord> Records() const;
    // For the status bar: "N files, h:mm:ss.cc" of playing time, and their size.
    QString TotalsText() const;
    QString SizeText() const;
    // The status cell's text: "OK", "Video Differ", "Audio Differ",
    // "Unreadable" for a file that could not be probed again, or "Missing"
    // for one that is no longer there.
    QString StatusText(int Row) const;

    void Append(TInputRecord Record);
    // Shows what a row's file holds now.
    void SetRecord(int Row, TInputRecord Record);
    // The row's file cannot be read any more: Why is the status's tip.
    void SetUnreadable(int Row, const QString& Why);
    // The row's file is gone ("Missing"), or back (its status as before).
    void SetMissing(int Row, bool Missing);
    // Removes the rows, given in any order.
    void Remove(std::vector<int> Rows);
    // Moves the rows, in their order, to stand together from Target on (as
    // counted after they were taken out; clamped). Returns where they stand
    // now; nothing when they stood there already.
    std::vector<int> Move(std::vector<int> Rows, int Target);
    void Clear();
    // Takes back the last move, removal or clear, when nothing was added since.
    bool CanUndo() const { return m_Undo.has_value(); }
    void Undo();

private:
    struct TRow
    {
        TInputRecord Record;
        QString Unreadable; // why the file could not be probed again, or empty
        bool Missing = false;
    };
    void StatusesChanged();

    std::vector<TRow> m_Rows;
    std::optional<std::vector<TRow>> m_Undo; // the rows before the last change
};

// The report list. It tells its owner what happened through signals: a drag
// moved over it, its own drag ended, files were dropped on it.
class TFileListView : public QTreeView
{
    Q_OBJECT
public:
    explicit TFileListView(QWidget* Parent = nullptr);

    // What an empty list shows in its middle.
    static constexpr const char* EmptyHint = "Drop MPEG files here or use File > Add";

    TFileListModel& Model() const { return *m_Model; }

    // Probes the file and appends its row; the probe's exception passes on
    // and no row is made.
    void AddFile(const QString& FileName);
    // Adds the files in order; after a file that cannot be added, Ask is
    // asked whether to add the others (with Skip All when several are left:
    // the files that fail after it are then passed over without a word).
    using TAskToGoOn = std::function<TMessageAnswer(const QString& Question, TMessageButtons Buttons)>;
    void AddFiles(const QStringList& FileNames, const TAskToGoOn& Ask);
    int Count() const { return m_Model->Count(); }
    QString FileName(int Row) const { return m_Model->FileName(Row); }
    const TInputRecord& Record(int Row) const { return m_Model->Record(Row); }
    QString StatusText(int Row) const { return m_Model->StatusText(Row); }

    // The selected rows in ascending order; SelectedRow the first, or -1.
    std::vector<int> SelectedRows() const;
    int SelectedRow() const;
    // Selects only the row, makes it current and gives the list the focus.
    void SelectRow(int Row);
    // Moves the rows to stand together from Target on (see the model), then
    // selects them and scrolls to them.
    void MoveRows(const std::vector<int>& Rows, int Target);
    void MoveRow(int Row, int Target) { MoveRows({Row}, Target); }
    // Removes the rows and selects the row that took the first one's place.
    void RemoveRows(const std::vector<int>& Rows);
    // Probes a row's file again and shows what it holds now, or, when it
    // cannot be read any more, says so in its status.
    void Reprobe(int Row);
    // Marks the rows whose files were moved or deleted, and unmarks those
    // that are back.
    void MarkMissingFiles();

    // The widths of the columns after the name (which takes what is left),
    // as "0,0,0,215,0", for the settings: 0 for a column that fits its texts,
    // the width of one the user set. False for a text that is none.
    QString ColumnWidths() const;
    bool SetColumnWidths(const QString& Widths);
    // The columns the user has not set fit their texts now (which happens by
    // itself once the list or its font changes).
    void FitColumns();

    // The row highlighted as the drop target during a drag, or the last one
    // highlighted before the pointer left the list; -1 when none. A row that
    // goes away takes its highlight with it.
    int DropTarget() const;
    void SetDropTarget(int Row);
    void ClearDropTarget() { SetDropTarget(-1); }

    // At the end of a drag of the list's own rows, wherever it ended: the
    // selected rows move to the drop target. False when there was none.
    bool MoveToDropTarget();

signals:
    // The list's own rows were dragged to another place.
    void RowsDragged();
    // Files from the desktop were dropped on the list.
    void FilesDropped(const QMimeData* Drop);

protected:
    void startDrag(Qt::DropActions Actions) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dragLeaveEvent(QDragLeaveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void SelectRows(const std::vector<int>& Rows);

    TFileListModel* m_Model;
    QPersistentModelIndex m_DropTarget;
    std::array<bool, lcCount> m_UserWidth{}; // set by the user, kept as set
    bool m_Fitting = false;
    QTimer m_FitTimer; // one fit after a burst of changes
};

} // namespace vantrel
