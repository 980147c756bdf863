// One join: the input files of a list, in list order, into one output file.
#pragma once

#include "io/InputFile.h"
#include "io/OutputFile.h"
#include "join/JoinPlan.h"
#include "join/Progress.h"
#include "probe/MPEGInfo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

struct TJoinState;

// Raised when an input no longer holds what it held when it was added, or
// changes while it is read; Index is its place in the list. The output then
// stays as it was.
class TInputChanged : public Exception
{
public:
    TInputChanged(std::size_t Index, const std::string& Message) : Exception(Message), Index(Index) {}
    std::size_t Index;
};

// A join is planned first, from each input's record, head and tail (where
// every file begins, how its first packs arrive, the headers kept, how long
// the output runs), then written in one forward pass that follows the plan:
// nothing is patched afterwards, so a pipe gets what a file gets. Program
// and system streams are walked packet by packet and written as they are,
// re-stamped (each file after the first moved in time as a whole, only its
// time stamp bytes patched), or reduced to the payload of video stream 0xE0;
// elementary streams are copied. Progress is reported, and cancellation
// polled, after every packet and every copied chunk. A cancelled join returns
// normally and gives the output what it wrote, when the progress sink keeps
// stopped work; any failure raises an Exception and leaves whatever stood at
// the output's name.
class TJoiner
{
public:
    // What each input held when it was probed (ProbeInput), in join order.
    // The joiner reads each from one descriptor and trusts the record while
    // the file keeps its identity; a file that changed is probed again, and
    // one whose format changed refuses the join: "The file %s has changed
    // since it was added."
    std::vector<TInputRecord> Inputs;
    std::string OutputFileName;
    bool VideoOnly = false;
    bool RecalcTimecodes = false;
    double FrameRate = 0;
    // The program of transport streams whose packets alone are kept, by its
    // number in the first file; 0 keeps every program.
    std::uint16_t Program = 0;
    // Makes the progress sink that Execute shows for its own duration; a join
    // without one reports nowhere and cannot be cancelled.
    std::function<std::unique_ptr<TProgressSink>()> CreateProgress;
    // Open an input to join from, and create the output: the files
    // themselves, unless a test gives a disk that fails.
    std::function<std::unique_ptr<TInputFile>(const TInputRecord&)> OpenInput;
    std::function<std::unique_ptr<TOutputFile>(const std::string&)> CreateOutput;

    TJoiner();
    ~TJoiner();
    TJoiner(const TJoiner&) = delete;
    TJoiner& operator=(const TJoiner&) = delete;

    // Shows the progress sink ("Joining...") and runs the join. Raises "Not
    // enough memory to join the files." when memory runs out.
    void Execute();
    void Join();

    std::int64_t TotalSize() const { return m_TotalSize; }
    std::int64_t ProcessedSize() const { return m_ProcessedSize; }
    // True when the last join stopped because the user cancelled it.
    bool Cancelled() const { return m_Cancelled; }
    // What the last join was planned to be, and (but for a stopped one) is.
    const TJoinPlan& Plan() const { return m_Plan; }

    // The read window of a pass: large reads, as cat makes them.
    static constexpr std::uint32_t ReadWindowSize = 128 * 1024;
    // Inputs the plan keeps open for their passes; more are opened again.
    static constexpr std::size_t KeptOpen = 64;

private:
    // Checks every input against its record before anything is written.
    void PrepareInputs();
    // Probes an input that is no longer what its record says; raises
    // TInputChanged when its format has changed.
    void Reprobe(std::size_t Index);
    void RefuseOutputThatIsAnInput() const;
    TInputFile& Open(std::size_t Index);
    TInputChanged Changed(std::size_t Index) const;
    // Raises TInputChanged for an open input that is no longer as it was.
    void RefuseChangedInputs() const;
    void JoinInput(std::size_t Index, TJoinState& State, TOutputFile& Output);
    // Reports the share of input bytes handled, this input up to Position,
    // and polls. Returns true when the join is to stop.
    bool ReportProgress(std::int64_t Position);
    bool PollCancelled();

    TProgressSink* m_Progress = nullptr;
    std::int64_t m_TotalSize = 0;
    std::int64_t m_ProcessedSize = 0;
    std::int64_t m_DoneSize = 0; // of the inputs before the current one
    std::int64_t m_CurrentSize = 0;
    bool m_Cancelled = false;
    TJoinPlan m_Plan;
    std::vector<std::unique_ptr<TInputFile>> m_Open; // by input, while open
};

} // namespace vantrel
