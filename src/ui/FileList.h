// The report view of the file list: it shows the rows, sorts nothing, and
// tells its owner what the user did with them.
#pragma once

#include "ui/FileListModel.h"

#include <QPersistentModelIndex>
#include <QTimer>
#include <QTreeView>
#include <array>
#include <vector>

class QFontMetrics;
class QMimeData;

namespace vantrel {

// Path cut to Width pixels for the name column: the middle of its folders
// gives way first, then the middle of the file's own name.
QString ElidedPath(const QString& Path, const QFontMetrics& Metrics, int Width);

// The report list. It tells its owner what happened through signals: a drag
// moved over it, its own drag ended, files were dropped on it.
class TFileListView : public QTreeView
{
    Q_OBJECT
public:
    explicit TFileListView(QWidget* Parent = nullptr);

    // What an empty list shows in its middle.
    static constexpr const char* EmptyHint = "Drop MPEG files here or use File > Add Files";

    TFileListModel& Model() const { return *m_Model; }

    int Count() const { return m_Model->Count(); }
    QString FileName(int Row) const { return m_Model->FileName(Row); }
    const TInputRecord& Record(int Row) const { return m_Model->Record(Row); }
    QString StatusText(int Row) const { return m_Model->StatusText(Row); }

    // The selected rows in ascending order; SelectedRow the first, or -1.
    std::vector<int> SelectedRows() const;
    int SelectedRow() const;
    // Selects only the row, makes it current and gives the list the focus.
    void SelectRow(int Row);

    // The widths of the columns after the name (which takes what is left),
    // as "0,0,0,215,0", for the settings: 0 for a column that fits its texts,
    // the width of one the user set. False for a text that is none.
    QString ColumnWidths() const;
    bool SetColumnWidths(const QString& Widths);
    // The columns the user has not set fit their texts now (which happens by
    // itself once the list or its font changes).
    void FitColumns();
    // Room the names keep in a narrow window, in average characters.
    static constexpr int NameChars = 40;

    // The row highlighted as the drop target during a drag, or the last one
    // highlighted before the pointer left the list; -1 when none. A row that
    // goes away takes its highlight with it.
    int DropTarget() const;
    void SetDropTarget(int Row);
    void ClearDropTarget() { SetDropTarget(-1); }

    // At the end of a drag of the list's own rows, wherever it ended: asks
    // for the selected rows to move to the drop target, to stand where it
    // stood. False when there was no target.
    bool MoveToDropTarget();

signals:
    // The list's own rows were dragged: Rows to stand together from Target on.
    void RowsDragged(const std::vector<int>& Rows, int Target);
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
    TFileListModel* m_Model;
    QPersistentModelIndex m_DropTarget;
    std::array<bool, lcCount> m_UserWidth{}; // set by the user, kept as set
    bool m_Fitting = false;
    QTimer m_FitTimer; // one fit after a burst of changes
};

} // namespace vantrel
