// The changes a user makes to the file list: adds, moves, removals and
// clears, each one step of Undo and Redo that brings back the rows, the
// selection and the current row as they were.
#pragma once

#include "ui/FileListModel.h"

#include <QObject>
#include <QUndoStack>
#include <vector>

class QItemSelectionModel;

namespace vantrel {

class TListEdits : public QObject
{
    Q_OBJECT
public:
    // Selection is the view's selection over Model.
    TListEdits(TFileListModel& Model, QItemSelectionModel& Selection, QObject* Parent = nullptr);

    QUndoStack& Stack() { return m_Stack; }
    TFileListModel& Model() const { return m_Model; }

    // Appends rows for the records. Appends of one Batch (one adding of
    // files, however long it takes) are one step. When nothing was selected,
    // the first new row is: Enter and Del act on it at once.
    void Append(std::vector<TInputRecord> Records, int Batch);
    // Removes the rows (any order, repeats allowed) and selects the row that
    // took the first one's place.
    void Remove(std::vector<int> Rows);
    // Moves the rows, in their order, to stand together from Target on (as
    // counted after they were taken out; clamped), and selects them. False
    // when they stood there already: then nothing changes.
    bool Move(std::vector<int> Rows, int Target);
    // Removes the first Count rows and leaves nothing selected: the rows a
    // "remove all?" question was asked about, not those that came meanwhile.
    void Clear(int Count);

private:
    TFileListModel& m_Model;
    QItemSelectionModel& m_Selection;
    QUndoStack m_Stack;
};

} // namespace vantrel
