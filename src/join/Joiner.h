// One join: the input files of a list, in list order, into one output file.
#pragma once

#include "io/InputFile.h"
#include "io/OutputFile.h"
#include "join/DecoderModel.h"
#include "join/MPEGTimeCorrect.h"
#include "join/Progress.h"
#include "probe/MPEGInfo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

// Raised when an input no longer holds what it held when it was added, or
// changes while it is read; Index is its place in the list. The output then
// stays as it was.
class TInputChanged : public Exception
{
public:
    TInputChanged(std::size_t Index, const std::string& Message) : Exception(Message), Index(Index) {}
    std::size_t Index;
};

// System-stream inputs (MPEG-1, and MPEG-2 program streams when their record
// says so) are walked packet by packet and written as they are,
// re-stamped (each file after the first moved in time as a whole, only its
// time stamp bytes patched), or reduced to the payload of video stream 0xE0;
// any other input is copied byte for byte. Progress is reported, and
// cancellation polled, after every packet and every copied chunk. A
// cancelled join returns normally and gives the output what it wrote; any
// failure raises an Exception and leaves whatever stood at the output's name.
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
    // What a stopped join leaves: true, what it joined so far takes the
    // output's name (the user's Cancel); false, the output stays as it was
    // (a signal: nobody asked for half a file).
    bool KeepStoppedOutput = true;
    // Makes the progress sink that Execute shows for its own duration; a join
    // without one reports nowhere and cannot be cancelled.
    std::function<std::unique_ptr<TProgressSink>()> CreateProgress;
    // Open an input to join from, and create the output: the files
    // themselves, unless a test gives a disk that fails.
    std::function<std::unique_ptr<TInputFile>(const TInputRecord&)> OpenInput;
    std::function<std::unique_ptr<TOutputFile>(const std::string&)> CreateOutput;

    // Shows the progress sink ("Joining...") and runs the join. Raises "Not
    // enough memory to join the files." when memory runs out.
    void Execute();
    void Join();

    std::int64_t TotalSize() const { return m_TotalSize; }
    std::int64_t ProcessedSize() const { return m_ProcessedSize; }
    // True when the last join stopped because the user cancelled it.
    bool Cancelled() const { return m_Cancelled; }

    // Where a later file begins in the joined stream's time line (seconds
    // from its first time stamp), and the pause added there for the decoder's
    // buffers and clock to hold. Holds: the schedule found keeps every unit
    // on time and no buffer over its size.
    struct TJoint
    {
        std::size_t File;
        double Time;
        double Pause;
        bool Holds;
        // The file goes on where the one before it stopped (the halves of a
        // split recording): its times are kept as they are.
        bool Continues = false;
    };
    const std::vector<TJoint>& Joints() const { return m_Joints; }

    static constexpr std::uint32_t CopyChunkSize = 4096;
    // The read window of a system-stream pass: large reads, as cat makes them.
    static constexpr std::uint32_t ReadWindowSize = 128 * 1024;
    // Bytes between packets are kept up to this length (the zeros that fill a
    // VCD sector, an end code); a longer run is junk the stream never needed.
    static constexpr std::int64_t MaxKeptGap = 64 * 1024;
    // How much of a file's end has its pictures counted for where it ends.
    static constexpr std::int64_t PictureCountBytes = 4 << 20;
    // How much of a later file's start is read ahead to schedule its joint,
    // and how much of a file's end tells what waits in the buffers there.
    static constexpr std::int64_t LeadBytes = 2 << 20;
    static constexpr std::size_t LeadPacks = 1024;
    static constexpr std::int64_t VcdSectorPayload = 2324;
    static constexpr std::int64_t DvdSectorSize = 2048;

private:
    // A system header kept in the output at Position; its bounds are raised
    // where other files need more.
    struct TKeptHeader
    {
        std::int64_t Position;
        std::vector<std::uint8_t> Bytes;
        bool Raised = false;
        std::vector<std::uint8_t> Original;
    };

    // Checks every input against its record before anything is written.
    void PrepareInputs();
    // Probes an input that is no longer what its record says; raises
    // TInputChanged when its format has changed.
    void Reprobe(std::size_t Index);
    void RefuseOutputThatIsAnInput() const;
    void CheckFreeSpace() const;
    // Raises when the output's file system has less room than the join
    // needs; Free < 0: it cannot tell.
    void RefuseWithoutRoom(std::int64_t Free) const;
    void JoinInput(std::size_t Index, TOutputFile& Output);
    void JoinSystemStream(std::size_t Index, TByteSource& Source, TOutputFile& Output);
    void JoinVideoPayload(TProgramStreamReader& Reader, TOutputFile& Output, bool Later, bool Last);
    // Copies an elementary stream: Later, its first open group of pictures
    // is marked broken; but for the Last, its sequence end codes are blanked.
    void CopyFile(TByteSource& Source, TOutputFile& Output, bool Later, bool Last);
    bool KeepsSystemHeaders(std::size_t Index) const;
    bool WritePackHeader(TProgramStreamReader& Reader, TOutputFile& Output, std::size_t Index);
    void WriteSystemHeader(TProgramStreamReader& Reader, TOutputFile& Output, std::size_t Index);
    void WritePES(TProgramStreamReader& Reader, TOutputFile& Output);
    // True when the file at Reader's start goes on in time where the output
    // stops (ClockContinues).
    bool ContinuesOutput(TProgramStreamReader& Reader, const TOutputFile& Output);
    // Schedules a later file's first packs after what the output holds.
    void PlanJoint(TProgramStreamReader& Reader, std::size_t Index, const TOutputFile& Output);
    // True when the current packet is cut by the end of the file and held
    // back for the next one.
    bool HoldsCutPacket(TProgramStreamReader& Reader, std::size_t Index);
    // Writes a packet held back, and forgets it.
    void WriteCutPacket(TOutputFile& Output);
    // Seconds from the output's first stamp to where the next file starts.
    double JointTime() const;
    // Marks a later file's first open group of pictures as broken and blanks
    // sequence end codes, in a video payload written at PacketPosition.
    void MarkVideoJoint(std::uint8_t* Payload, std::size_t Length, const std::uint8_t* Packet,
                        std::int64_t PacketPosition);
    // Copies the bytes between two packets, or (EndsFile) after a file's last
    // one; Last: of the last file.
    void CopyGap(TByteSource& Source, std::int64_t From, std::int64_t To, TOutputFile& Output, bool EndsFile,
                 bool Last);
    void WriteRaisedHeaders(TOutputFile& Output);

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
    TTimeCorrector m_TimeCorrector;
    std::vector<TKeptHeader> m_KeptHeaders;
    std::optional<std::size_t> m_HeaderFile;
    std::size_t m_FileHeaders = 0; // system headers of the current file so far
    std::uint32_t m_MaxMuxRate = 0;
    bool m_GroupSeen = false; // the current file's first group header
    TBufferModel m_Buffers;   // the streams written near the end of the current file
    TJointPlan m_Plan;        // for the current file's first packs
    std::size_t m_PlannedPacks = 0;
    std::vector<TJoint> m_Joints;
    std::optional<std::int64_t> m_FirstStamp;
    bool m_Continues = false; // the current file continues the one before
    // The last decode stamp written of each stream (private stream 1's by
    // sub-stream).
    std::map<std::uint8_t, std::int64_t> m_LastDecode;
    // A packet cut by the end of the file before, held back: the rest of it
    // starts a file that continues it.
    std::vector<std::uint8_t> m_CutTail;
    std::size_t m_CutPacketLength = 0; // of a whole packet held back, or 0
    // Where the current file's last pack header stands, and the distance
    // between its pack headers while it is one (-1 once it varies).
    std::optional<std::int64_t> m_LastPackInput;
    std::int64_t m_PackSpacing = 0;
    // Copies of a kept system header in a file that continues its recording,
    // by where they stand and which kept one they repeat.
    std::vector<std::pair<std::int64_t, std::size_t>> m_HeaderCopies;
    // Where the last sequence end code written as zeros stands, while only
    // zeros of the video followed it.
    std::optional<std::int64_t> m_SequenceEnd;
    std::int64_t m_PackSCR = 0;      // of the pack written last
    std::int64_t m_PackOutput = 0;   // where it stands in the output
    std::int64_t m_ElapsedShift = 0; // ticks the current file's cell times move on
};

} // namespace vantrel
