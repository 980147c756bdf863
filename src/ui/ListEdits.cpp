#include "ui/ListEdits.h"

#include <QItemSelectionModel>
#include <algorithm>
#include <numeric>
#include <optional>

namespace vantrel {

namespace {

// The rows selected and the current row, by index.
struct TSelectionState
{
    std::vector<int> Rows;
    int Current = -1;
};

TSelectionState Capture(const QItemSelectionModel& Selection)
{
    TSelectionState State;
    for (const QModelIndex& Index : Selection.selectedRows())
        State.Rows.push_back(Index.row());
    std::sort(State.Rows.begin(), State.Rows.end());
    State.Current = Selection.currentIndex().isValid() ? Selection.currentIndex().row() : -1;
    return State;
}

void Restore(QItemSelectionModel& Selection, const TSelectionState& State)
{
    const QAbstractItemModel& Model = *Selection.model();
    const int Last = Model.columnCount() - 1;
    QItemSelection Rows;
    for (const int Row : State.Rows)
        if (Row < Model.rowCount())
            Rows.select(Model.index(Row, 0), Model.index(Row, Last));
    Selection.select(Rows, QItemSelectionModel::ClearAndSelect);
    Selection.setCurrentIndex(State.Current >= 0 && State.Current < Model.rowCount()
                                  ? Model.index(State.Current, 0)
                                  : QModelIndex(),
                              QItemSelectionModel::NoUpdate);
}

std::vector<int> Sorted(std::vector<int> Rows)
{
    std::sort(Rows.begin(), Rows.end());
    Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
    return Rows;
}

// One step: does its change and selects what it leaves selected; undone, it
// brings back the rows and the selection from before.
class TListCommand : public QUndoCommand
{
public:
    TListCommand(const QString& Text, TFileListModel& Model, QItemSelectionModel& Selection)
        : QUndoCommand(Text), m_Model(Model), m_Selection(Selection), m_Before(Capture(Selection))
    {
    }
    void redo() override
    {
        Do();
        if (!m_After)
            m_After = After();
        Restore(m_Selection, *m_After);
    }
    void undo() override
    {
        Undo();
        Restore(m_Selection, m_Before);
    }

protected:
    virtual void Do() = 0;
    virtual void Undo() = 0;
    // What the change leaves selected, worked out once, after its first run.
    virtual TSelectionState After() const = 0;

    TFileListModel& m_Model;
    QItemSelectionModel& m_Selection;
    TSelectionState m_Before;

private:
    std::optional<TSelectionState> m_After;
};

class TAppendCommand : public TListCommand
{
public:
    static constexpr int Id = 1;
    TAppendCommand(std::vector<TListRow> Rows, int Batch, TFileListModel& Model,
                   QItemSelectionModel& Selection)
        : TListCommand("Add Files", Model, Selection), m_Batch(Batch), m_First(Model.Count()),
          m_Count(static_cast<int>(Rows.size())), m_Rows(std::move(Rows))
    {
    }
    int id() const override { return Id; }
    // The rows of a later part of the same adding were appended right after
    // these: they go and come back with them.
    bool mergeWith(const QUndoCommand* Other) override
    {
        const auto* Next = static_cast<const TAppendCommand*>(Other);
        if (Next->m_Batch != m_Batch || Next->m_First != m_First + m_Count)
            return false;
        m_Count += Next->m_Count;
        return true;
    }

protected:
    void Do() override { m_Model.Append(std::exchange(m_Rows, {})); }
    void Undo() override
    {
        std::vector<int> Rows(static_cast<std::size_t>(m_Count));
        std::iota(Rows.begin(), Rows.end(), m_First);
        m_Rows = m_Model.Take(Rows);
    }
    TSelectionState After() const override
    {
        return m_Before.Rows.empty() ? TSelectionState{{m_First}, m_First} : m_Before;
    }

private:
    int m_Batch, m_First, m_Count;
    std::vector<TListRow> m_Rows; // while they are out of the list
};

class TRemoveCommand : public TListCommand
{
public:
    TRemoveCommand(const QString& Text, std::vector<int> Rows, bool SelectNext, TFileListModel& Model,
                   QItemSelectionModel& Selection)
        : TListCommand(Text, Model, Selection), m_Rows(std::move(Rows)), m_SelectNext(SelectNext)
    {
    }

protected:
    void Do() override { m_Taken = m_Model.Take(m_Rows); }
    void Undo() override { m_Model.Put(m_Rows, std::exchange(m_Taken, {})); }
    TSelectionState After() const override
    {
        if (!m_SelectNext || m_Model.Count() == 0)
            return {};
        const int Row = std::min(m_Rows.front(), m_Model.Count() - 1);
        return {{Row}, Row};
    }

private:
    std::vector<int> m_Rows;
    bool m_SelectNext;
    std::vector<TListRow> m_Taken;
};

class TMoveCommand : public TListCommand
{
public:
    TMoveCommand(std::vector<int> Order, int Target, int Moved, TFileListModel& Model,
                 QItemSelectionModel& Selection)
        : TListCommand("Move", Model, Selection), m_Order(std::move(Order)), m_Target(Target), m_Moved(Moved)
    {
    }

protected:
    void Do() override { m_Model.Reorder(m_Order); }
    void Undo() override
    {
        std::vector<int> Back(m_Order.size());
        for (std::size_t I = 0; I < m_Order.size(); ++I)
            Back[static_cast<std::size_t>(m_Order[I])] = static_cast<int>(I);
        m_Model.Reorder(Back);
    }
    TSelectionState After() const override
    {
        TSelectionState State{std::vector<int>(static_cast<std::size_t>(m_Moved)), m_Target};
        std::iota(State.Rows.begin(), State.Rows.end(), m_Target);
        return State;
    }

private:
    std::vector<int> m_Order;
    int m_Target, m_Moved;
};

} // namespace

TListEdits::TListEdits(TFileListModel& Model, QItemSelectionModel& Selection, QObject* Parent)
    : QObject(Parent), m_Model(Model), m_Selection(Selection)
{
    // A long session keeps its history; a bound keeps its memory in reach.
    m_Stack.setUndoLimit(200);
}

void TListEdits::Append(std::vector<TInputRecord> Records, int Batch)
{
    if (Records.empty())
        return;
    std::vector<TListRow> Rows;
    for (TInputRecord& Record : Records)
        Rows.push_back({std::move(Record), {}, false});
    m_Stack.push(new TAppendCommand(std::move(Rows), Batch, m_Model, m_Selection));
}

void TListEdits::Remove(std::vector<int> Rows)
{
    Rows = Sorted(std::move(Rows));
    if (!Rows.empty())
        m_Stack.push(new TRemoveCommand("Delete", std::move(Rows), true, m_Model, m_Selection));
}

bool TListEdits::Move(std::vector<int> Rows, int Target)
{
    Rows = Sorted(std::move(Rows));
    if (Rows.empty())
        return false;
    const int Moved = static_cast<int>(Rows.size());
    Target = std::clamp(Target, 0, m_Model.Count() - Moved);
    if (Rows.front() == Target && Rows.back() == Target + Moved - 1)
        return false; // they stand there already
    // The rows that stay, in their order, with the moved ones put in at Target.
    std::vector<int> Order;
    for (int Row = 0, K = 0; Row < m_Model.Count(); ++Row)
        if (K < Moved && Rows[static_cast<std::size_t>(K)] == Row)
            ++K;
        else
            Order.push_back(Row);
    Order.insert(Order.begin() + Target, Rows.begin(), Rows.end());
    m_Stack.push(new TMoveCommand(std::move(Order), Target, Moved, m_Model, m_Selection));
    return true;
}

void TListEdits::Clear(int Count)
{
    Count = std::min(Count, m_Model.Count());
    if (Count <= 0)
        return;
    std::vector<int> Rows(static_cast<std::size_t>(Count));
    std::iota(Rows.begin(), Rows.end(), 0);
    m_Stack.push(new TRemoveCommand("Clear", std::move(Rows), false, m_Model, m_Selection));
}

} // namespace vantrel
