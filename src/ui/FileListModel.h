// The rows of the file list: one input record a row, in join order, with the
// texts, tips and icons of its cells. The model only holds and shows rows;
// what changes them as a user's edit (undo, selection) is the list's edits.
#pragma once

#include "probe/MPEGInfo.h"
#include "ui/FileNames.h"

#include <QAbstractTableModel>
#include <QString>
#include <vector>

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
// A size as the desktop writes it: powers of ten, "176.1 kB", "4.9 GB".
QString DesktopSizeText(std::int64_t Bytes);

// A row: the record one probe made, and what the disk said of it since.
struct TListRow
{
    TInputRecord Record;
    QString Unreadable; // why the file could not be probed again, or empty
    bool Missing = false;
};

// Each status is worked out against row 0 when it is shown, so it can never
// be stale after a move, a removal or a new first file.
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
    bool IsMissing(int Row) const { return m_Rows[static_cast<std::size_t>(Row)].Missing; }
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

    // The row operations the edits are made of. Rows are given in ascending
    // order, without repeats.
    void Append(std::vector<TListRow> Rows);
    // Takes the rows out and gives them back, in their order.
    std::vector<TListRow> Take(const std::vector<int>& Rows);
    // Puts rows back so that each stands at its index again.
    void Put(const std::vector<int>& Rows, std::vector<TListRow> Taken);
    // Row I becomes what row Order[I] was; persistent indexes (the selection,
    // a drag's target) follow their rows.
    void Reorder(const std::vector<int>& Order);

    // Shows what a row's file holds now.
    void SetRecord(int Row, TInputRecord Record);
    // The row's file cannot be read any more: Why is the status's tip.
    void SetUnreadable(int Row, const QString& Why);
    // The row's file is gone ("Missing"), or back (its status as before).
    void SetMissing(int Row, bool Missing);

private:
    void StatusesChanged();

    std::vector<TListRow> m_Rows;
};

} // namespace vantrel
