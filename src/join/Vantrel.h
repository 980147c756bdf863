// One join: the input files of a list, in list order, into one output file.
#pragma once

#include "MPEGTimeCorrect.h"
#include "Progress.h"
#include "media/Streams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

// System-stream inputs are walked packet by packet and written unchanged,
// re-stamped, or reduced to the payload of video stream 0xE0; any other input
// is copied byte for byte. Progress is reported, and cancellation polled,
// after every packet and every copied chunk. A cancelled join returns
// normally and leaves what it wrote; any failure raises an Exception.
class TVantrel
{
public:
    std::vector<std::string> FileNames;
    std::string OutputFileName;
    bool VideoOnly = false;
    bool RecalcTimecodes = false;
    double FrameRate = 0;
    // Makes the progress sink that Execute shows for its own duration; a join
    // without one reports nowhere and cannot be cancelled.
    std::function<std::unique_ptr<TProgressSink>()> CreateProgress;

    // Shows the progress sink ("Joining...") and runs the join.
    void Execute();
    void Join();
    void CalcTotalSize();
    void JoinSystemStream(std::size_t Index, TFileStream& Output);
    void CopyFile(std::size_t Index, TFileStream& Output);

    std::int64_t TotalSize() const { return m_TotalSize; }
    std::int64_t ProcessedSize() const { return m_ProcessedSize; }
    // True when the last join stopped because the user cancelled it.
    bool Cancelled() const { return m_Cancelled; }

    static constexpr std::size_t CopyChunkSize = 4096;
    // The read window of a system-stream pass: large reads, as cat makes them.
    static constexpr std::uint32_t ReadWindowSize = 128 * 1024;
    // How many packets of a file are looked at for its smallest time stamp.
    static constexpr int LookAheadPackets = 256;

private:
    // Adds Bytes to the bytes handled, reports the percentage and polls.
    // Returns true when the join is to stop.
    bool ReportProgress(std::int64_t Bytes);
    bool PollCancelled();
    void RefuseOutputThatIsAnInput() const;
    std::optional<std::int64_t> SmallestFirstPTS(const std::string& FileName) const;

    TProgressSink* m_Progress = nullptr;
    std::int64_t m_TotalSize = 0;
    std::int64_t m_ProcessedSize = 0;
    bool m_Cancelled = false;
    TTimeCorrector m_TimeCorrector;
};

} // namespace vantrel
