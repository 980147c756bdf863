#include "join/Joiner.h"

#include "join/Continuation.h"
#include "join/Navigation.h"
#include "join/VideoEdits.h"

#include "io/FileBufs.h"
#include "io/InputFile.h"
#include "io/SysUtils.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/ProgramStreamReader.h"
#include "mpeg/ps/SubStreams.h"
#include "probe/JoinRules.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace vantrel {

namespace {

// Room for Length bytes in the output, filled by Fill; nothing is left
// unfilled in the output when Fill raises.
template <typename TFill> std::uint8_t* Put(TOutputFile& Output, std::size_t Length, TFill Fill)
{
    std::uint8_t* Room = Output.Claim(Length);
    try {
        Fill(Room);
    } catch (...) {
        Output.Unclaim(Length);
        throw;
    }
    return Room;
}

std::uint8_t* CopyPacket(TProgramStreamReader& Reader, TOutputFile& Output)
{
    return Put(Output, Reader.PacketLength(), [&](std::uint8_t* Room) { Reader.ReadPacket(Room); });
}

// The stream a stamped packet speaks for: its stream id, or in private
// stream 1 its sub-stream (sound and subpictures have stamps of their own).
std::uint8_t StampedStream(TProgramStreamReader& Reader)
{
    const TPESInfo& PES = Reader.PES();
    std::uint8_t Sub = 0;
    if (PES.StreamId == PrivateStream1 && PES.PayloadLength > 0 &&
        Reader.Source().Read(&Sub, 1, PES.PayloadPosition) == 1)
        return Sub;
    return PES.StreamId;
}

// A walk ahead of where Reader stands, which comes back to it when done (or
// at Back). A long run of junk ends the look ahead, not the join: the walk
// that writes reports its progress there and can be cancelled.
struct TLookAhead
{
    TLookAhead(TProgramStreamReader& Reader, std::int64_t Limit)
        : Reader(Reader), Mark(Reader.Mark()), From(Mark.Position),
          Progress(std::exchange(Reader.ScanProgress, [this, Limit](std::int64_t Position) {
              return Stopped = Position - From >= Limit;
          }))
    {
    }
    ~TLookAhead() { Back(); }
    TLookAhead(const TLookAhead&) = delete;
    TLookAhead& operator=(const TLookAhead&) = delete;
    void Back() const
    {
        Reader.Restore(Mark);
        Reader.ScanProgress = Progress;
    }

    TProgramStreamReader& Reader;
    const TPacket Mark;
    const std::int64_t From; // where the look ahead began
    const std::function<bool(std::int64_t)> Progress;
    bool Stopped = false; // by the limit, in junk
};

// A stamp that keeps its value keeps its bytes, marker bits and all: the
// first file, and the rest of a split recording, stay as they were.
void Restamp(std::uint8_t* Field, std::int64_t Raw, std::int64_t Value)
{
    if (ClockValue(Value) != Raw)
        PatchTimeStamp(Field, ClockValue(Value));
}

// A pack header of a program stream: '01' where MPEG-1 has '0010'.
bool IsProgramPack(const std::uint8_t* Header)
{
    return (Header[SCRFieldOffset] & 0xC0) == 0x40;
}

// The SCR of the pack header that starts at Header, in its own layout.
void RestampPack(std::uint8_t* Header, std::int64_t Raw, std::int64_t Value)
{
    if (!IsProgramPack(Header))
        Restamp(Header + SCRFieldOffset, Raw, Value);
    else if (ClockValue(Value) != Raw)
        PatchProgramSCR(Header + SCRFieldOffset, ClockValue(Value));
}

// The bytes a file system has free; -1 for one that reports no blocks at
// all (some network and FUSE mounts), which says nothing about its room.
std::int64_t FreeRoom(const struct statvfs& Fs)
{
    return Fs.f_blocks == 0 ? -1
                            : static_cast<std::int64_t>(Fs.f_bavail) * static_cast<std::int64_t>(Fs.f_frsize);
}

} // namespace

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
    m_KeptHeaders.clear();
    m_HeaderCopies.clear();
    m_LastDecode.clear();
    m_CutTail.clear();
    m_CutPacketLength = 0;
    m_HeaderFile.reset();
    m_MaxMuxRate = 0;
    m_SequenceEnd.reset();
    m_Buffers.Reset();
    m_Plan = {};
    m_Joints.clear();
    m_FirstStamp.reset();
    m_TimeCorrector.Reset(FrameRate);
    PrepareInputs();
    m_ProcessedSize = m_DoneSize = 0;
    // Writing the output must never touch one of the inputs.
    RefuseOutputThatIsAnInput();
    // What killed joins left at this name makes room before it is counted.
    SweepPartials(OutputFileName);
    CheckFreeSpace();

    const std::unique_ptr<TOutputFile> Output =
        CreateOutput ? CreateOutput(OutputFileName) : std::make_unique<TOutputFile>(OutputFileName);
    Output->StopRequested = [this] { return PollCancelled(); };
    try {
        for (std::size_t I = 0; I < Inputs.size(); ++I) {
            if (PollCancelled())
                break;
            if (m_Progress)
                m_Progress->SetCurrentFile(Inputs[I].FileName, I, Inputs.size());
            JoinInput(I, *Output);
            m_DoneSize += Inputs[I].StreamSize;
        }
        WriteRaisedHeaders(*Output);
    } catch (const TStopped&) {
        // An input or the output would not let the join go on: it stops as
        // a cancel does, with what it has written.
        m_Cancelled = true;
    }
    // A cancelled join keeps what it joined so far, under the output's name,
    // when asked to; a pipe whose reader stalls gets nothing more.
    if (m_Cancelled && (!KeepStoppedOutput || (m_Progress && !m_Progress->KeepsStoppedWork())))
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
        // Copied as it is, a transport stream would make a file whose clock
        // jumps at every joint: refused before anything is written.
        if (Inputs[I].Kind == mfkTransportStream)
            throw Exception(TransportJoinMessage);
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

void TJoiner::CheckFreeSpace() const
{
    // Only a file in a file system needs room; a pipe or a device does not.
    struct stat St
    {
    };
    struct statvfs Fs
    {
    };
    if (const std::optional<int> Descriptor = OutputDescriptor(OutputFileName)) {
        if (::fstat(*Descriptor, &St) != 0 || !S_ISREG(St.st_mode) || ::fstatvfs(*Descriptor, &Fs) != 0)
            return;
        return RefuseWithoutRoom(FreeRoom(Fs));
    }
    if (::stat(OutputFileName.c_str(), &St) == 0 && !S_ISREG(St.st_mode))
        return;
    // The room that counts is where the file lands: through a link, the
    // target's folder.
    if (::statvfs(ParentFolder(OutputTarget(OutputFileName)).c_str(), &Fs) == 0)
        RefuseWithoutRoom(FreeRoom(Fs));
}

void TJoiner::RefuseWithoutRoom(std::int64_t Free) const
{
    if (Free >= 0 && Free < m_TotalSize)
        throw Exception(
            FileErrorMessage("Unable to write file %s", OutputFileName, 0,
                             Format("%s: the join needs %s, and only %s are free.", std::strerror(ENOSPC),
                                    ByteSizeText(m_TotalSize).c_str(), ByteSizeText(Free).c_str())));
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

void TJoiner::JoinInput(std::size_t Index, TOutputFile& Output)
{
    // Read up to the size the record gives: a file that grows meanwhile is
    // not followed, one that shrank is refused.
    const TInputRecord& Record = Inputs[Index];
    const std::unique_ptr<TInputFile> Input =
        OpenInput ? OpenInput(Record) : std::make_unique<TInputFile>(Record.FileName, ReadWindowSize);
    // The file was checked when the join began; what is read is what was
    // checked, from this one descriptor, and it must not change under it.
    const auto Changed = [&] {
        return TInputChanged(
            Index, Format("The file %s changed while it was being joined.", Record.FileName.c_str()));
    };
    if (Input->Identity() != Record.Identity)
        throw Changed();
    Input->SetStopCheck([this] { return PollCancelled(); });
    m_CurrentSize = Record.StreamSize;
    if (Record.Kind == mfkSystemStream) {
        JoinSystemStream(Index, Input->Source(), Output);
    } else {
        WriteCutPacket(Output);
        CopyFile(Input->Source(), Output, Index > 0, Index + 1 == Inputs.size());
    }
    if (!m_Cancelled && Input->CurrentIdentity() != Record.Identity)
        throw Changed();
}

void TJoiner::JoinSystemStream(std::size_t Index, TByteSource& Source, TOutputFile& Output)
{
    TProgramStreamReader Reader;
    Reader.Open(Source);
    Reader.SetProgramStream(Inputs[Index].Info.ProgramStream);
    // Long junk between packets reports progress and can be cancelled.
    Reader.ScanProgress = [this](std::int64_t Position) { return ReportProgress(Position); };
    if (VideoOnly) {
        JoinVideoPayload(Reader, Output, Index > 0, Index + 1 == Inputs.size());
        return;
    }
    m_Plan = {};
    m_PlannedPacks = 0;
    // A packet cut by the end of the file before goes on here only when this
    // file begins with exactly what it lacks; the walk then starts after it.
    bool Completes = m_CutTail.empty();
    if (RecalcTimecodes && Index > 0 && !Completes) {
        std::vector<std::uint8_t> Head(
            static_cast<std::size_t>(std::min<std::int64_t>(Source.Size(), MaxPacketLength + 4)));
        Head.resize(Source.Read(Head.data(), static_cast<std::uint32_t>(Head.size()), 0));
        if (const auto Rest = CutPacketRemainder(m_CutTail, Head, std::ssize(Head) == Source.Size())) {
            Completes = true;
            Reader.Seek(static_cast<std::int64_t>(*Rest));
        }
    }
    m_Continues = RecalcTimecodes && Index > 0 && Completes && ContinuesOutput(Reader, Output);
    // What stands before a file's first packet (the empty sectors a VCD track
    // can start with) is not part of its stream, except the rest of a packet
    // that the file before was cut in: the halves of a recording split
    // anywhere join to what it was, as long as their times stay as they are.
    std::optional<std::int64_t> GapStart;
    if (m_Continues && m_TimeCorrector.Offset() == 0) {
        Put(Output, m_CutTail.size(),
            [&](std::uint8_t* Room) { std::copy(m_CutTail.begin(), m_CutTail.end(), Room); });
        GapStart = 0;
        m_CutPacketLength = 0;
    }
    WriteCutPacket(Output);
    if (m_Continues) {
        m_TimeCorrector.ContinueFile();
        m_Joints.push_back({Index, JointTime(), 0, true, true});
    } else if (RecalcTimecodes) {
        // A program stream's sound may be in private stream 1.
        m_TimeCorrector.BeginFile(SmallestFirstPTS(
            Reader, Reader.ProgramStream() ? PrivateStream1 : FirstAudioStream, LastVideoStream));
        m_ElapsedShift = 0;
        if (!m_TimeCorrector.IsFirstFile())
            PlanJoint(Reader, Index, Output);
    }
    m_Buffers.Reset();
    m_FileHeaders = 0;
    m_GroupSeen = false;
    m_LastPackInput.reset();
    m_PackSpacing = 0;

    bool SkippingPack = false;
    while (Reader.NextPacket()) {
        if (ReportProgress(Reader.PacketEnd()))
            return;
        if (Reader.PacketKind() == pkPackHeader) {
            SkippingPack = false;
            // Packs of one size (disc sectors) are what a long run of zeros
            // after the last one must not take from it.
            if (m_LastPackInput)
                m_PackSpacing =
                    m_PackSpacing == 0 || m_PackSpacing == Reader.PacketPosition() - *m_LastPackInput
                        ? Reader.PacketPosition() - *m_LastPackInput
                        : -1;
            m_LastPackInput = Reader.PacketPosition();
        }
        if (!SkippingPack) {
            if (GapStart && *GapStart != Reader.PacketPosition())
                CopyGap(Source, *GapStart, Reader.PacketPosition(), Output, false, false);
            if (Reader.PacketKind() != pkPackHeader && HoldsCutPacket(Reader, Index)) {
                ReportProgress(Source.Size());
                return;
            }
            switch (Reader.PacketKind()) {
            case pkPackHeader: SkippingPack = !WritePackHeader(Reader, Output, Index); break;
            case pkSystemHeader: WriteSystemHeader(Reader, Output, Index); break;
            case pkPES: WritePES(Reader, Output); break;
            }
        }
        // A pack left out takes the bytes after its packets with it.
        GapStart = SkippingPack ? std::nullopt : std::optional(Reader.PacketEnd());
    }
    if (m_Cancelled)
        return;
    if (GapStart)
        CopyGap(Source, *GapStart, Source.Size(), Output, true, Index + 1 == Inputs.size());
    ReportProgress(Source.Size());
}

void TJoiner::JoinVideoPayload(TProgramStreamReader& Reader, TOutputFile& Output, bool Later, bool Last)
{
    // As an elementary stream is copied: but for the last file's, sequence
    // end codes are blanked, also one split between two payloads (the last
    // three bytes of each wait for the next); a later file's first open group
    // of pictures is marked broken.
    std::vector<std::uint8_t> Carry;
    bool GroupSeen = !Later;
    while (Reader.NextPacket()) {
        if (ReportProgress(Reader.PacketEnd()))
            break;
        const TPESInfo& PES = Reader.PES();
        // A header that runs past its own packet leaves no payload.
        if (Reader.PacketKind() != pkPES || PES.StreamId != FirstVideoStream || !Reader.PESHeaderFits())
            continue;
        const std::size_t Length = Carry.size() + PES.PayloadLength;
        std::uint8_t* Room = Put(Output, Length, [&](std::uint8_t* Room) {
            Reader.ReadPayload(std::copy(Carry.begin(), Carry.end(), Room));
        });
        if (!GroupSeen)
            GroupSeen = MarkBrokenLink(Room, Length);
        if (Last) {
            Carry.clear();
            continue;
        }
        BlankSequenceEnds(Room, Length, Length);
        const std::size_t Held = std::min<std::size_t>(3, Length);
        Carry.assign(Room + Length - Held, Room + Length);
        Output.Unclaim(Held);
    }
    Put(Output, Carry.size(), [&](std::uint8_t* Room) { std::copy(Carry.begin(), Carry.end(), Room); });
}

bool TJoiner::KeepsSystemHeaders(std::size_t Index) const
{
    // The first file that has system headers gives them to the joined stream.
    return !m_HeaderFile || *m_HeaderFile == Index;
}

bool TJoiner::WritePackHeader(TProgramStreamReader& Reader, TOutputFile& Output, std::size_t Index)
{
    m_MaxMuxRate = std::max(m_MaxMuxRate, Reader.MuxRate());
    if (!RecalcTimecodes) {
        CopyPacket(Reader, Output);
        return true;
    }
    const std::int64_t Position = Output.Position();
    TTimeCorrector::TPackTime Time = m_TimeCorrector.PackTime(Reader.SCR(), Position);
    // The first packs of a later file go as the joint's plan has them.
    if (m_PlannedPacks < m_Plan.SCR.size()) {
        const std::optional<std::int64_t> Planned = m_Plan.SCR[m_PlannedPacks++];
        if (!Planned)
            return false;
        const std::uint32_t Rate = m_Plan.MuxRate ? m_Plan.MuxRate : Reader.MuxRate();
        std::uint8_t* Header = CopyPacket(Reader, Output);
        const std::int64_t SCR = std::max(*Planned, Time.SCR);
        RestampPack(Header, Reader.SCR(), SCR);
        if (m_Plan.MuxRate)
            (IsProgramPack(Header) ? PatchProgramMuxRate : PatchMuxRate)(Header, Rate);
        m_MaxMuxRate = std::max(m_MaxMuxRate, Rate);
        m_TimeCorrector.KeepPack(SCR, Rate, Position);
        m_PackSCR = SCR;
        m_PackOutput = Position;
        return true;
    }
    // A pack that holds nothing but padding is not needed while its file is
    // behind its own clock: leaving it out lets a constant-rate (VCD) stream
    // catch up instead of arriving later and later.
    // Most packs begin with a packet of a stream: one look at its code
    // tells, without walking the pack.
    const std::optional<std::uint8_t> Next = Reader.NextCode();
    const bool Carries = Next && ((*Next > SystemHeaderCode && *Next != PaddingStream) ||
                                  (*Next == SystemHeaderCode && KeepsSystemHeaders(Index)));
    if (Time.Behind && !Carries) {
        const TPacket Pack = Reader.Mark();
        bool PaddingOnly = true;
        // A later file's system header will be padding too.
        while (PaddingOnly && Reader.NextPacket() && Reader.PacketKind() != pkPackHeader)
            PaddingOnly = (Reader.PacketKind() == pkSystemHeader && !KeepsSystemHeaders(Index)) ||
                          (Reader.PacketKind() == pkPES && Reader.PES().StreamId == PaddingStream);
        Reader.Restore(Pack);
        if (PaddingOnly)
            return false;
    }
    std::uint8_t* Header = CopyPacket(Reader, Output);
    RestampPack(Header, Reader.SCR(), Time.SCR);
    m_TimeCorrector.KeepPack(Time.SCR, Reader.MuxRate(), Position);
    m_PackSCR = Time.SCR;
    m_PackOutput = Position;
    return true;
}

void TJoiner::WriteSystemHeader(TProgramStreamReader& Reader, TOutputFile& Output, std::size_t Index)
{
    const std::uint32_t Length = Reader.PacketLength();
    if (KeepsSystemHeaders(Index)) {
        m_HeaderFile = Index;
        const std::int64_t Position = Output.Position();
        const std::uint8_t* Header = CopyPacket(Reader, Output);
        m_KeptHeaders.push_back({Position, std::vector<std::uint8_t>(Header, Header + Length), false,
                                 std::vector<std::uint8_t>(Header, Header + Length)});
        return;
    }
    // The joined stream keeps one file's system headers; what another one
    // promises raises their bounds, and its place in its pack goes to a
    // padding packet of the same length, so the pack keeps its size.
    // The k-th header of a file speaks for what the k-th kept one does (a VCD
    // has one for its video and one for its audio).
    std::vector<std::uint8_t> Header(Length);
    Reader.ReadPacket(Header.data());
    // The rest of a recording repeats its headers: they stay, and take the
    // raised bounds too.
    if (m_Continues)
        for (std::size_t K = 0; K < m_KeptHeaders.size(); ++K)
            if (m_KeptHeaders[K].Original == Header) {
                m_HeaderCopies.push_back({Output.Position(), K});
                Put(Output, Length,
                    [&](std::uint8_t* Room) { std::copy(Header.begin(), Header.end(), Room); });
                ++m_FileHeaders;
                return;
            }
    if (!m_KeptHeaders.empty()) {
        const std::size_t K = std::min(m_FileHeaders, m_KeptHeaders.size() - 1);
        TKeptHeader& Kept = m_KeptHeaders[K];
        Kept.Raised |=
            RaiseSystemHeaderBounds(Kept.Bytes.data(), Kept.Bytes.size(), Header.data(), Length, 0);
        // A DVD's navigation pack starts with its system header, and an
        // authoring tool finds the pack by it: it stays, as the kept one.
        if (Reader.ProgramStream()) {
            ++m_FileHeaders;
            if (Kept.Bytes.size() != Length) {
                Put(Output, Length,
                    [&](std::uint8_t* Room) { std::copy(Header.begin(), Header.end(), Room); });
                return;
            }
            m_HeaderCopies.push_back({Output.Position(), K});
            Put(Output, Length,
                [&](std::uint8_t* Room) { std::copy(Kept.Original.begin(), Kept.Original.end(), Room); });
            return;
        }
    }
    ++m_FileHeaders;
    // As muxers write padding: a header byte that says "no time stamps"
    // (0x0F), then 0xFF.
    Put(Output, Length, [&](std::uint8_t* Room) {
        std::fill(Room, Room + Length, 0xFF);
        std::copy(Header.begin(), Header.begin() + PacketPrefixLength, Room);
        Room[3] = PaddingStream;
        if (Length > PacketPrefixLength)
            Room[PacketPrefixLength] = 0x0F;
    });
}

void TJoiner::WritePES(TProgramStreamReader& Reader, TOutputFile& Output)
{
    const std::int64_t Position = Output.Position();
    std::uint8_t* Packet = CopyPacket(Reader, Output);
    const TPESInfo& PES = Reader.PES();
    if (!RecalcTimecodes || PES.StreamId == PaddingStream || !Reader.PESHeaderFits())
        return;
    std::uint8_t* Payload = Packet + (PES.PayloadPosition - Reader.PacketPosition());
    if (PES.StreamId == PrivateStream2) {
        if (Reader.ProgramStream())
            MoveNavigation(Payload, PES.PayloadLength,
                           {m_TimeCorrector.Offset(), m_ElapsedShift, Reader.SCR(), m_PackSCR,
                            m_LastPackInput && *m_LastPackInput % DvdSectorSize == 0
                                ? *m_LastPackInput / DvdSectorSize
                                : -1,
                            m_PackOutput % DvdSectorSize == 0 ? m_PackOutput / DvdSectorSize : -1});
        return;
    }
    if (PES.ESCRPosition) {
        std::uint8_t* ESCR = Packet + (PES.ESCRPosition - Reader.PacketPosition());
        const std::int64_t Raw = DecodeProgramSCR(ESCR);
        if (const std::int64_t Value = ClockValue(Raw + m_TimeCorrector.Offset()); Value != Raw)
            PatchProgramSCR(ESCR, Value);
    }
    TPESInfo Written = PES;
    if (PES.HasPTS) {
        Written.PTS = m_TimeCorrector.Stamp(PES.PTS);
        Restamp(Packet + (PES.PTSPosition - Reader.PacketPosition()), PES.PTS, Written.PTS);
    }
    if (PES.HasDTS) {
        Written.DTS = m_TimeCorrector.Stamp(PES.DTS);
        Restamp(Packet + (PES.DTSPosition - Reader.PacketPosition()), PES.DTS, Written.DTS);
    }
    if (PES.StreamId == FirstVideoStream)
        MarkVideoJoint(Payload, PES.PayloadLength, Packet, Position);
    const std::optional<std::int64_t> Decode = PES.HasDTS   ? std::optional(Written.DTS)
                                               : PES.HasPTS ? std::optional(Written.PTS)
                                                            : std::nullopt;
    if (!m_FirstStamp && Decode)
        m_FirstStamp = Written.HasPTS ? Written.PTS : *Decode;
    if (Decode)
        m_LastDecode[StampedStream(Reader)] = *Decode;
    // What waits in the buffers at the next joint comes from near the end.
    if (Reader.PacketPosition() >= Reader.Source().Size() - LeadBytes)
        if (const auto Model = ModelPayload(PES.StreamId, Payload, PES.PayloadLength))
            m_Buffers.Add(Model->Stream, m_TimeCorrector.FrameTicks(), Model->Data, Model->Length, Decode,
                          PES.STDBufferSize);
    // Pictures are counted only near a file's end, where they decide where it
    // ends; before that each packet's stamp is enough.
    const bool NearEnd = Reader.PacketPosition() >= Reader.Source().Size() - PictureCountBytes;
    m_TimeCorrector.AddPacket(Written, Payload, PES.PayloadLength, NearEnd);
}

void TJoiner::WriteCutPacket(TOutputFile& Output)
{
    // Not continued: the packet keeps its length, its pack its size, with
    // zeros for what the file did not hold.
    if (m_CutPacketLength)
        Put(Output, m_CutPacketLength, [&](std::uint8_t* Room) {
            std::fill(std::copy(m_CutTail.begin(), m_CutTail.end(), Room), Room + m_CutPacketLength, 0);
        });
    m_CutTail.clear();
    m_CutPacketLength = 0;
}

bool TJoiner::HoldsCutPacket(TProgramStreamReader& Reader, std::size_t Index)
{
    // A packet cut by the end of a file before another, with its stamps as
    // they are (no offset to apply): held back until the next file shows
    // whether it holds the rest.
    if (Reader.PacketEnd() <= Reader.Source().Size() || Index + 1 == Inputs.size() || !RecalcTimecodes ||
        m_TimeCorrector.Offset() != 0)
        return false;
    m_CutTail.resize(static_cast<std::size_t>(Reader.Source().Size() - Reader.PacketPosition()));
    m_CutTail.resize(Reader.Source().Read(m_CutTail.data(), static_cast<std::uint32_t>(m_CutTail.size()),
                                          Reader.PacketPosition()));
    m_CutPacketLength = Reader.PacketLength();
    return true;
}

void TJoiner::PlanJoint(TProgramStreamReader& Reader, std::size_t Index, const TOutputFile& Output)
{
    // The file's first packs, as they would stand after its offset: read
    // ahead on a copy of the time line, then walked again to be written.
    TTimeCorrector Line = m_TimeCorrector;
    std::vector<TLeadPack> Packs;
    std::map<std::uint8_t, TUnitSplitter> Splitters;
    std::map<std::uint8_t, std::uint32_t> Sizes;
    std::map<std::uint8_t, std::uint32_t> HeaderSizes;
    std::vector<std::uint8_t> Payload, Headers;
    std::int64_t PackPosition = 0;
    // Whole packs only: the look ahead ends at a pack header, and a pack it
    // could not see to its end (one that runs on past twice its length, or
    // into junk that long) has no place in the plan, which would leave out
    // what it did not see.
    bool LastWhole = true, ToEnd = false;
    for (TLookAhead Ahead(Reader, 2 * LeadBytes);;) {
        if (!Reader.NextPacket()) {
            LastWhole = ToEnd = !Ahead.Stopped;
            break;
        }
        const std::int64_t Read = Reader.PacketPosition() - Ahead.From;
        if (Reader.PacketKind() == pkPackHeader) {
            if (!Packs.empty())
                Packs.back().Length = Reader.PacketPosition() - PackPosition;
            if (Packs.size() == LeadPacks || Read >= LeadBytes)
                break;
            PackPosition = Reader.PacketPosition();
            Packs.push_back({Line.Stamp(Reader.SCR()), Reader.MuxRate(), Reader.PacketLength(), true, {}});
            continue;
        }
        if (Read >= 2 * LeadBytes) {
            LastWhole = false;
            break;
        }
        if (Packs.empty())
            continue;
        TLeadPack& Pack = Packs.back();
        Pack.Length = Reader.PacketEnd() - PackPosition;
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() == pkSystemHeader) {
            Pack.PaddingOnly &= !KeepsSystemHeaders(Index);
            Headers.resize(Reader.PacketLength());
            Reader.ReadPacket(Headers.data());
            for (std::uint8_t Id = PrivateStream1; Id != 0 && Id <= LastVideoStream; ++Id)
                if (const std::uint32_t Bound = SystemHeaderBufferBound(Headers.data(), Headers.size(), Id))
                    HeaderSizes[Id] = Bound;
            continue;
        }
        Pack.PaddingOnly &= PES.StreamId == PaddingStream;
        if (!(IsAudioStream(PES.StreamId) || IsVideoStream(PES.StreamId) || PES.StreamId == PrivateStream1) ||
            !Reader.PESHeaderFits())
            continue;
        Payload.resize(PES.PayloadLength);
        Reader.ReadPayload(Payload.data());
        const std::optional<TModelPayload> Model = ModelPayload(PES.StreamId, Payload.data(), Payload.size());
        if (!Model)
            continue;
        std::optional<std::int64_t> Decode;
        if (PES.HasDTS || PES.HasPTS)
            Decode = Line.Stamp(PES.HasDTS ? PES.DTS : PES.PTS);
        auto Splitter = Splitters.try_emplace(Model->Stream, Model->Stream, Line.FrameTicks()).first;
        Splitter->second.Add(Model->Data, Model->Length, Decode);
        if (PES.STDBufferSize && !Sizes.count(Model->Stream))
            Sizes[Model->Stream] = PES.STDBufferSize;
        Pack.Packets.push_back(
            {Model->Stream, Reader.PacketEnd() - PackPosition, static_cast<std::int64_t>(Model->Length)});
    }

    if (!LastWhole && !Packs.empty())
        Packs.pop_back();
    std::map<std::uint8_t, std::vector<TAccessUnit>> Units;
    for (const auto& [Id, Splitter] : Splitters) {
        Units[Id] = Splitter.Units();
        // A stream without an STD field of its own has its system header's
        // bound; private stream 1's sub-streams share its.
        const std::uint8_t HeaderId = IsAudioStream(Id) || IsVideoStream(Id) ? Id : PrivateStream1;
        if (!Sizes.count(Id) && HeaderSizes.count(HeaderId))
            Sizes[Id] = HeaderSizes[HeaderId];
    }
    // A constant-rate disc: every pack one sector (the last one read ahead
    // may end early, where the look ahead stopped): a VCD's or SVCD's, or a
    // DVD's, whose rate a player's drive fixes too.
    const bool Program = Reader.ProgramStream();
    const bool FixedRate =
        Packs.size() > 1 && std::all_of(Packs.begin(), Packs.end() - 1, [Program](const TLeadPack& Pack) {
            return Pack.Length == VcdSectorPayload || (Program && Pack.Length == DvdSectorSize);
        });
    const std::optional<std::int64_t> Free = m_TimeCorrector.ChannelFree(Output.Position());
    m_Plan = vantrel::PlanJoint(Packs, Units, Sizes, m_Buffers,
                                Free.value_or(Packs.empty() ? 0 : Packs[0].SCR), FixedRate, ToEnd);
    m_TimeCorrector.Delay(m_Plan.Pause);
    m_Joints.push_back({Index, JointTime(), static_cast<double>(m_Plan.Pause) / ClockRate, m_Plan.Holds});
    m_ElapsedShift = std::llround(m_Joints.back().Time * ClockRate);
}

double TJoiner::JointTime() const
{
    const std::optional<std::int64_t> Start = m_TimeCorrector.FileStart();
    return Start && m_FirstStamp ? static_cast<double>(*Start - *m_FirstStamp) / ClockRate : 0;
}

bool TJoiner::ContinuesOutput(TProgramStreamReader& Reader, const TOutputFile& Output)
{
    const std::optional<std::int64_t> Free =
        m_TimeCorrector.ChannelFree(Output.Position() + static_cast<std::int64_t>(m_CutTail.size()));
    if (!Free || m_LastDecode.empty())
        return false;
    std::optional<std::int64_t> SCR;
    std::map<std::uint8_t, std::int64_t> FirstDecode;
    TLookAhead Ahead(Reader, LeadBytes);
    for (int Packets = 0; Packets < 64 && Reader.NextPacket(); ++Packets) {
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() == pkPackHeader && !SCR)
            SCR = m_TimeCorrector.Peek(Reader.SCR());
        else if (Reader.PacketKind() == pkPES && (PES.HasDTS || PES.HasPTS))
            if (const auto Decode = m_TimeCorrector.Peek(PES.HasDTS ? PES.DTS : PES.PTS))
                FirstDecode.try_emplace(StampedStream(Reader), *Decode);
    }
    return ClockContinues(SCR, FirstDecode, m_LastDecode, *Free, m_TimeCorrector.FrameTicks());
}

void TJoiner::MarkVideoJoint(std::uint8_t* Payload, std::size_t Length, const std::uint8_t* Packet,
                             std::int64_t PacketPosition)
{
    if (!m_GroupSeen && !m_TimeCorrector.IsFirstFile() && !m_Continues)
        m_GroupSeen = MarkBrokenLink(Payload, Length);
    // A sequence end code would end the video for a player wherever it
    // stands: inside the output it becomes zero stuffing of its length, which
    // may stand before any start code. The last one is given back at the end
    // when only zeros of the video followed it.
    const auto NonZero = [](std::uint8_t B) { return B != 0; };
    if (m_SequenceEnd && std::any_of(Payload, Payload + Length, NonZero))
        m_SequenceEnd.reset();
    std::uint8_t* const End = Payload + Length;
    for (std::uint8_t* At = Payload; (At = static_cast<std::uint8_t*>(std::memchr(
                                          At, SequenceEndCode, static_cast<std::size_t>(End - At))));
         ++At)
        if (At - Payload >= 3 && At[-1] == 1 && At[-2] == 0 && At[-3] == 0) {
            std::fill(At - 3, At + 1, 0);
            m_SequenceEnd.reset();
            if (std::none_of(At + 1, End, NonZero))
                m_SequenceEnd = PacketPosition + (At - 3 - Packet);
        }
}

void TJoiner::CopyGap(TByteSource& Source, std::int64_t From, std::int64_t To, TOutputFile& Output,
                      bool EndsFile, bool Last)
{
    std::int64_t Length = std::min(To, Source.Size()) - From;
    // A long run is junk the stream never needed, but for what fills the
    // last sector of a disc track: it stays, so later packs keep the grid.
    if (Length > MaxKeptGap && EndsFile && m_LastPackInput && m_PackSpacing > 0)
        Length =
            std::min(Length, (m_PackSpacing - (From - *m_LastPackInput) % m_PackSpacing) % m_PackSpacing);
    if (Length <= 0 || Length > MaxKeptGap)
        return;
    std::uint8_t* Room = Put(Output, static_cast<std::size_t>(Length), [&](std::uint8_t* Room) {
        Source.Read(Room, static_cast<std::uint32_t>(Length), From);
    });
    // The last file ends the output as it ends, its end code included.
    if (Last)
        return;
    std::size_t Kept = static_cast<std::size_t>(Length);
    // Before another file, what follows a file's last whole packet loses a
    // packet cut by the end of the file: its header would swallow the next
    // file's start.
    if (EndsFile) {
        TStartCodeScan Scan;
        for (std::size_t I = 0; I < Kept; ++I)
            if (Scan.Feed(Room[I]) && Room[I] >= PackStartCode) {
                m_CutTail.assign(Room + (I - 3), Room + Kept);
                Output.Unclaim(Kept - (I - 3));
                Kept = I - 3;
                break;
            }
    }
    BlankEndCodes(Room, Kept);
}

void TJoiner::WriteRaisedHeaders(TOutputFile& Output)
{
    if (m_SequenceEnd) {
        static constexpr std::uint8_t SequenceEnd[] = {0, 0, 1, SequenceEndCode};
        Output.WriteAt(*m_SequenceEnd, SequenceEnd, sizeof SequenceEnd);
    }
    for (TKeptHeader& Kept : m_KeptHeaders) {
        Kept.Raised |=
            RaiseSystemHeaderBounds(Kept.Bytes.data(), Kept.Bytes.size(), nullptr, 0, m_MaxMuxRate);
        if (Kept.Raised)
            Output.WriteAt(Kept.Position, Kept.Bytes.data(), Kept.Bytes.size());
    }
    for (const auto& [Position, K] : m_HeaderCopies)
        if (m_KeptHeaders[K].Raised)
            Output.WriteAt(Position, m_KeptHeaders[K].Bytes.data(), m_KeptHeaders[K].Bytes.size());
}

void TJoiner::CopyFile(TByteSource& Source, TOutputFile& Output, bool Later, bool Last)
{
    // A chunk and the bytes a sequence end code may run on into.
    std::uint8_t Buffer[CopyChunkSize + 3];
    std::size_t Blank = 0;
    for (std::int64_t Position = 0;;) {
        const std::uint32_t Read = Source.Read(Buffer, sizeof Buffer, Position);
        const std::uint32_t N = std::min(Read, CopyChunkSize);
        // The last file ends the output as it ends, its end code included.
        if (!Last) {
            std::fill_n(Buffer, std::min<std::size_t>(Blank, N), 0);
            Blank = BlankSequenceEnds(Buffer, N, Read);
        }
        // A later file's first group of pictures follows its first sequence header.
        if (Later && Position == 0)
            MarkBrokenLink(Buffer, N);
        Output.Write(Buffer, N);
        Position += N;
        if (ReportProgress(Position) || N != CopyChunkSize)
            break;
    }
}

} // namespace vantrel
