#include "join/Joiner.h"

#include "io/SysUtils.h"
#include "join/ElementaryPass.h"
#include "join/OutputRoom.h"
#include "join/Planner.h"
#include "join/ProgramStreamPass.h"
#include "join/TransportStreamPass.h"
#include "probe/JoinRules.h"

#include <algorithm>
#include <new>

namespace vantrel {

TJoiner::TJoiner() = default;
TJoiner::~TJoiner() = default;

void TJoiner::Execute()
{
    std::unique_ptr<TProgressSink> Progress = CreateProgress ? CreateProgress() : nullptr;
    m_Progress = Progress.get();
    struct TForget
    {
        TProgressSink*& Sink;
        ~TForget() { Sink = nullptr; }
    } Forget{m_Progress};
    if (m_Progress) {
        m_Progress->SetCaption("Joining...");
        m_Progress->SetText(Inputs.size() <= 1 ? "The selected file is being joined. Please wait..."
                                               : "The selected files are being joined. Please wait...");
        m_Progress->Show();
    }
    try {
        Join();
    } catch (const std::bad_alloc&) {
        throw Exception("Not enough memory to join the files.");
    }
}

void TJoiner::Join()
{
    m_Cancelled = false;
    m_Plan = {};
    m_Open.clear();
    m_Open.resize(Inputs.size());
    // A frame rate that times nothing refuses the join before anything exists.
    TTimeCorrector().Reset(FrameRate);
    PrepareInputs();
    m_ProcessedSize = m_DoneSize = 0;
    // Writing the output must never touch one of the inputs.
    RefuseOutputThatIsAnInput();
    // What killed joins left at this name makes room before it is counted.
    SweepPartials(OutputFileName);
    RefuseWithoutRoom(OutputFileName, BytesToWrite(Inputs));

    try {
        m_Plan = MakeJoinPlan(Inputs, {RecalcTimecodes, VideoOnly, FrameRate, Program},
                              [this](std::size_t Index) -> TInputFile& {
                                  if (PollCancelled())
                                      throw TStopped();
                                  TInputFile& Input = Open(Index);
                                  // Beyond a few, the inputs the plan read are opened again for their passes.
                                  if (Index >= KeptOpen)
                                      m_Open[Index - KeptOpen].reset();
                                  return Input;
                              });
    } catch (const TStopped&) {
        m_Cancelled = true;
        return;
    } catch (const Exception&) {
        // An input that cannot be read as far as it went was changed meanwhile.
        RefuseChangedInputs();
        throw;
    }
    const std::unique_ptr<TOutputFile> Output =
        CreateOutput ? CreateOutput(OutputFileName) : std::make_unique<TOutputFile>(OutputFileName);
    Output->StopRequested = [this] { return PollCancelled(); };
    TJoinState State;
    State.Line.Reset(FrameRate);
    try {
        for (std::size_t I = 0; I < Inputs.size(); ++I) {
            if (PollCancelled())
                break;
            if (m_Progress)
                m_Progress->SetCurrentFile(Inputs[I].FileName, I, Inputs.size());
            JoinInput(I, State, *Output);
            m_DoneSize += Inputs[I].StreamSize;
        }
    } catch (const TStopped&) {
        // An input or the output would not let the join go on: it stops as
        // a cancel does, with what it has written.
        m_Cancelled = true;
    }
    m_Open.clear();
    // A cancelled join keeps what it joined so far, under the output's name,
    // when the one who stopped it wants that (a user's Cancel, not a signal);
    // a pipe whose reader stalls gets nothing more.
    if (m_Cancelled && m_Progress && !m_Progress->KeepsStoppedWork())
        return;
    try {
        Output->Commit();
    } catch (const TStopped&) {
        m_Cancelled = true;
    }
}

void TJoiner::PrepareInputs()
{
    m_TotalSize = 0;
    for (std::size_t I = 0; I < Inputs.size(); ++I) {
        // A look at the name, not an open: only a file that changed since
        // its probe is read again.
        if (IdentityOf(Inputs[I].FileName) != Inputs[I].Identity)
            Reprobe(I);
        // A transport stream's video alone would need tables of its own.
        if (Inputs[I].Kind == mfkTransportStream && VideoOnly)
            throw Exception(TransportVideoOnlyMessage);
        m_TotalSize += Inputs[I].StreamSize;
    }
    // The percentage never divides by zero.
    m_TotalSize = std::max<std::int64_t>(m_TotalSize, 1);
}

void TJoiner::Reprobe(std::size_t Index)
{
    TInputRecord& Record = Inputs[Index];
    std::optional<TInputRecord> Now;
    try {
        Now = ProbeInput(Record.FileName, false);
    } catch (const Exception&) {
    }
    if (!Now || !SameFormat(Record.Info, Now->Info))
        throw TInputChanged(Index,
                            Format("The file %s has changed since it was added.", Record.FileName.c_str()));
    Now->Info = Record.Info; // what the list shows stays what it showed
    Record = *Now;
}

void TJoiner::RefuseOutputThatIsAnInput() const
{
    for (const TInputRecord& Input : Inputs)
        if (SameFile(Input.FileName, OutputFileName))
            throw Exception("The output file cannot be one of the input files.");
}

TInputChanged TJoiner::Changed(std::size_t Index) const
{
    return TInputChanged(
        Index, Format("The file %s changed while it was being joined.", Inputs[Index].FileName.c_str()));
}

TInputFile& TJoiner::Open(std::size_t Index)
{
    // Kept open since the plan read it: it must still be what it was.
    if (m_Open[Index]) {
        if (m_Open[Index]->CurrentIdentity() != Inputs[Index].Identity)
            throw Changed(Index);
        return *m_Open[Index];
    }
    // Read up to the size the record gives: a file that grows meanwhile is
    // not followed, one that shrank is refused.
    const TInputRecord& Record = Inputs[Index];
    std::unique_ptr<TInputFile> Input =
        OpenInput ? OpenInput(Record) : std::make_unique<TInputFile>(Record.FileName, ReadWindowSize);
    // The file was checked when the join began; what is read is what was
    // checked, from one descriptor at a time, and it must not change under it.
    if (Input->Identity() != Record.Identity)
        throw Changed(Index);
    Input->SetStopCheck([this] { return PollCancelled(); });
    m_Open[Index] = std::move(Input);
    return *m_Open[Index];
}

void TJoiner::RefuseChangedInputs() const
{
    for (std::size_t I = 0; I < m_Open.size(); ++I)
        if (m_Open[I] && m_Open[I]->CurrentIdentity() != Inputs[I].Identity)
            throw Changed(I);
}

bool TJoiner::PollCancelled()
{
    if (!m_Cancelled && m_Progress && m_Progress->IsCancelled())
        m_Cancelled = true;
    return m_Cancelled;
}

bool TJoiner::ReportProgress(std::int64_t Position)
{
    m_ProcessedSize = m_DoneSize + std::clamp<std::int64_t>(Position, 0, m_CurrentSize);
    if (!m_Progress)
        return false;
    m_Progress->SetPosition(static_cast<std::int32_t>(m_ProcessedSize * 100 / m_TotalSize));
    return PollCancelled();
}

void TJoiner::JoinInput(std::size_t Index, TJoinState& State, TOutputFile& Output)
{
    const TInputRecord& Record = Inputs[Index];
    TInputFile& Input = Open(Index);
    m_CurrentSize = Record.StreamSize;
    const TPassProgress Progress = [this](std::int64_t Position) { return ReportProgress(Position); };
    const bool Later = Index > 0, Last = Index + 1 == Inputs.size();
    if (Record.Kind == mfkSystemStream && VideoOnly) {
        CopyVideoPayload(Input.Source(), Record.Info.ProgramStream, Output, Later, Last, Progress);
    } else if (Record.Kind == mfkSystemStream) {
        TProgramStreamPass Pass(
            {Index, Inputs.size(), RecalcTimecodes, Record.Info.ProgramStream, false, Progress}, m_Plan,
            State, Input.Source(), Output);
        Pass.Begin();
        Pass.Walk();
    } else if (Record.Kind == mfkTransportStream) {
        TTransportStreamPass Pass({Index, Inputs.size(), RecalcTimecodes, false, false, Progress},
                                  Record.Info, Program, m_Plan, State, Input.Source(), Output);
        Pass.Begin();
        Pass.Walk();
    } else {
        WriteCutPacket(State, Output);
        CopyElementaryStream(Input.Source(), Output, Later, Last, Progress);
    }
    if (!m_Cancelled && Input.CurrentIdentity() != Record.Identity)
        throw Changed(Index);
    m_Open[Index].reset();
}

} // namespace vantrel
