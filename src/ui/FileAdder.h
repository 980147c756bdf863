// Adding files to the list and checking listed files on disk: the probe of
// each file, the question after a file that cannot be added, and what a file
// that went or changed shows. Adding runs in short slices from the event
// loop, so the window paints and takes more files while a long list is
// probed; no slice delivers events itself.
#pragma once

#include "ui/ListEdits.h"
#include "ui/MessageBox.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

namespace vantrel {

class TFileAdder : public QObject
{
    Q_OBJECT
public:
    // Ask shows a question about a file that cannot be added and returns the
    // answer; it is asked with the rows added so far already in the list.
    using TAsk = std::function<TMessageAnswer(const QString& Text, TMessageButtons Buttons)>;
    TFileAdder(TListEdits& Edits, TAsk Ask, QObject* Parent = nullptr);
    ~TFileAdder() override;

    // Adds the files after those still waiting, in their order, as one step
    // of Undo. After a file that cannot be added, when others of the same
    // call are left, Ask is asked whether to go on (with Skip All when
    // several are left: the files that fail after it are then passed over
    // without a word); after the last one it is only told.
    void Add(const QStringList& FileNames);
    bool IsAdding() const { return m_Busy.has_value(); }
    // Forgets the files still waiting.
    void Stop();

    // How long a slice probes before the window gets its turn.
    static constexpr int SliceMs = 40;

signals:
    // Every file given has been added or passed over.
    void Finished();

private:
    struct TPending
    {
        QString FileName;
        int Batch;
    };
    struct TBusyCursor
    {
        TBusyCursor();
        ~TBusyCursor();
        TBusyCursor(const TBusyCursor&) = delete;
        TBusyCursor& operator=(const TBusyCursor&) = delete;
    };
    void Slice();
    // False when the user said to stop.
    bool AskAfterFailure(const TPending& File, const QString& Why);

    TListEdits& m_Edits;
    TAsk m_Ask;
    std::deque<TPending> m_Pending;
    int m_Batches = 0;
    int m_SkipBatch = -1; // the call whose failures Skip All passes over
    bool m_InSlice = false;
    std::optional<TBusyCursor> m_Busy;
    QTimer m_Next;
};

// Probes a row's file again and shows what it holds now, or, when it cannot
// be read any more, says so in its status.
void ProbeAgain(TFileListModel& Model, int Row);
// Marks the rows whose files were moved or deleted, and unmarks those that
// are back. Returns the rows marked.
std::vector<int> MarkMissingFiles(TFileListModel& Model);

} // namespace vantrel
