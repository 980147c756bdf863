#include "ui/FileAdder.h"

#include "ui/FileNames.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <exception>
#include <unistd.h>
#include <utility>

namespace vantrel {

namespace {

// A message ends with one full stop, whether or not its last part had one.
QString Sentence(QString Text)
{
    if (!Text.endsWith('.') && !Text.endsWith('!') && !Text.endsWith('?'))
        Text += '.';
    return Text;
}

} // namespace

TFileAdder::TBusyCursor::TBusyCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TFileAdder::TBusyCursor::~TBusyCursor()
{
    QApplication::restoreOverrideCursor();
}

TFileAdder::TFileAdder(TListEdits& Edits, TAsk Ask, QObject* Parent)
    : QObject(Parent), m_Edits(Edits), m_Ask(std::move(Ask))
{
    m_Next.setSingleShot(true);
    connect(&m_Next, &QTimer::timeout, this, &TFileAdder::Slice);
}

TFileAdder::~TFileAdder() = default;

void TFileAdder::Add(const QStringList& FileNames)
{
    if (FileNames.isEmpty())
        return;
    const int Batch = m_Batches++;
    for (const QString& Name : FileNames)
        m_Pending.push_back({Name, Batch});
    if (!m_Busy)
        m_Busy.emplace();
    // A slice that is asking a question goes on with these once answered.
    if (!m_InSlice)
        m_Next.start(0);
}

void TFileAdder::Stop()
{
    m_Pending.clear();
    m_Next.stop();
    if (!m_InSlice)
        m_Busy.reset();
}

void TFileAdder::Slice()
{
    m_InSlice = true;
    QElapsedTimer Time;
    Time.start();
    // The rows of a slice go in together: one insertion, one fit of the columns.
    std::vector<TInputRecord> Probed;
    int Batch = -1;
    const auto Flush = [&] {
        if (!Probed.empty())
            m_Edits.Append(std::exchange(Probed, {}), Batch);
    };
    while (!m_Pending.empty() && Time.elapsed() < SliceMs) {
        const TPending File = m_Pending.front();
        m_Pending.pop_front();
        if (File.Batch != Batch) {
            Flush();
            Batch = File.Batch;
        }
        try {
            Probed.push_back(ProbeInput(EncodeFileName(File.FileName).toStdString()));
        } catch (const std::exception& E) {
            if (File.Batch == m_SkipBatch)
                continue;
            Flush(); // the question shows the rows added so far
            if (!AskAfterFailure(File, QString::fromStdString(E.what()))) {
                // Files handed over while the question was open are not the
                // ones it was about: they are still added.
                std::erase_if(m_Pending, [&File](const TPending& P) { return P.Batch <= File.Batch; });
            }
        }
    }
    Flush();
    m_InSlice = false;
    if (!m_Pending.empty()) {
        m_Next.start(0);
        return;
    }
    m_Busy.reset();
    emit Finished();
}

bool TFileAdder::AskAfterFailure(const TPending& File, const QString& Why)
{
    const auto Left = std::count_if(m_Pending.begin(), m_Pending.end(),
                                    [&File](const TPending& P) { return P.Batch == File.Batch; });
    const QString Failure = "Unable to add file " + File.FileName + ": " + Sentence(Why);
    // The question is asked under the normal pointer.
    m_Busy.reset();
    const struct TBusyAgain
    {
        std::optional<TBusyCursor>& Busy;
        ~TBusyAgain() { Busy.emplace(); }
    } Again{m_Busy};
    if (Left == 0) {
        // Nothing is left to go on with: there is nothing to ask.
        m_Ask(Failure, TMessageButtons::Ok);
        return true;
    }
    const TMessageAnswer Answer = m_Ask(Failure + "\r\nDo you want to continue add other files?",
                                        Left >= 2 ? TMessageButtons::YesSkipAllNo : TMessageButtons::YesNo);
    if (Answer == TMessageAnswer::SkipAll)
        m_SkipBatch = File.Batch;
    return Answer == TMessageAnswer::Yes || Answer == TMessageAnswer::SkipAll;
}

void ProbeAgain(TFileListModel& Model, int Row)
{
    if (Row < 0 || Row >= Model.Count())
        return;
    try {
        Model.SetRecord(Row, ProbeInput(Model.Record(Row).FileName));
    } catch (const std::exception& E) {
        Model.SetUnreadable(Row, QString::fromStdString(E.what()));
    }
}

std::vector<int> MarkMissingFiles(TFileListModel& Model)
{
    std::vector<int> Missing;
    for (int Row = 0; Row < Model.Count(); ++Row) {
        const bool Gone = ::access(Model.Record(Row).FileName.c_str(), F_OK) != 0;
        Model.SetMissing(Row, Gone);
        if (Gone)
            Missing.push_back(Row);
    }
    return Missing;
}

} // namespace vantrel
