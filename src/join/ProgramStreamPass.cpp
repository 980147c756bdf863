#include "join/ProgramStreamPass.h"

#include "join/Continuation.h"
#include "join/LeadPacks.h"
#include "join/Navigation.h"
#include "join/VideoEdits.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/SubStreams.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

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

std::uint8_t* PutBytes(TOutputFile& Output, const std::vector<std::uint8_t>& Bytes)
{
    return Put(Output, Bytes.size(),
               [&](std::uint8_t* Room) { std::copy(Bytes.begin(), Bytes.end(), Room); });
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

} // namespace

TProgramStreamPass::TProgramStreamPass(const TPassSettings& Settings, TJoinPlan& Plan, TJoinState& State,
                                       TByteSource& Source, TOutputFile& Output)
    : m_Settings(Settings), m_Plan(Plan), m_State(State), m_Source(Source), m_Output(Output)
{
    m_Reader.Open(Source);
    m_Reader.SetProgramStream(Settings.ProgramStream);
    // Long junk between packets reports progress and can be cancelled.
    m_Reader.ScanProgress = [this](std::int64_t Position) { return Report(Position); };
}

void TProgramStreamPass::Begin()
{
    TFilePlan& Plan = File();
    TTimeCorrector& Line = m_State.Line;
    const bool Recalc = m_Settings.RecalcTimecodes;
    // A packet cut by the end of the file before goes on here only when this
    // file begins with exactly what it lacks; the walk then starts after it.
    if (m_Settings.Planning && Recalc && IsLaterFile() && !m_State.CutTail.empty()) {
        std::vector<std::uint8_t> Head(
            static_cast<std::size_t>(std::min<std::int64_t>(m_Source.Size(), MaxPacketLength + 4)));
        Head.resize(m_Source.Read(Head.data(), static_cast<std::uint32_t>(Head.size()), 0));
        if (const auto Rest = CutPacketRemainder(m_State.CutTail, Head, std::ssize(Head) == m_Source.Size()))
            Plan.Remainder = static_cast<std::int64_t>(*Rest);
    }
    if (Plan.Remainder)
        m_Reader.Seek(*Plan.Remainder);
    if (m_Settings.Planning) {
        Plan.Continues =
            Recalc && IsLaterFile() && (m_State.CutTail.empty() || Plan.Remainder) && ContinuesOutput();
        // Only the rest of its own recording completes a cut packet: bytes
        // that merely fit it are another file's own (junk and then packets).
        if (Plan.Remainder && !Plan.Continues) {
            Plan.Remainder.reset();
            m_Reader.Seek(0);
        }
    }
    m_Continues = Plan.Continues;
    // What stands before a file's first packet (the empty sectors a VCD track
    // can start with) is not part of its stream, except the rest of a packet
    // that the file before was cut in: the halves of a recording split
    // anywhere join to what it was, as long as their times stay as they are.
    if (m_Continues && Line.Offset() == 0) {
        PutBytes(m_Output, m_State.CutTail);
        m_GapStart = 0;
        m_State.CutPacketLength = 0;
    }
    WriteCutPacket(m_State, m_Output);
    if (m_Continues) {
        Line.ContinueFile();
        Plan.Time = JointTime();
    } else if (Recalc) {
        if (m_Settings.Planning)
            // A program stream's sound may be in private stream 1.
            Plan.FirstPTS = SmallestFirstPTS(
                m_Reader, m_Reader.ProgramStream() ? PrivateStream1 : FirstAudioStream, LastVideoStream);
        Line.BeginFile(Plan.FirstPTS, m_Settings.Planning ? std::nullopt : Plan.Start);
        if (m_Settings.Planning && !Line.IsFirstFile()) {
            PlanJoint();
            Line.Delay(Plan.Joint.Pause);
            Plan.Start = Line.FileStart();
        }
        Plan.Time = JointTime();
        Plan.ElapsedShift = Line.IsFirstFile() ? 0 : std::llround(Plan.Time * ClockRate);
    }
    m_State.Buffers.Reset();
}

double TProgramStreamPass::JointTime() const
{
    const std::optional<std::int64_t> Start = m_State.Line.FileStart();
    return Start && m_State.FirstStamp ? static_cast<double>(*Start - *m_State.FirstStamp) / ClockRate : 0;
}

bool TProgramStreamPass::Walk(std::int64_t From, std::int64_t Until)
{
    if (From > 0) {
        m_Reader.Seek(From);
        m_GapStart.reset();
    }
    // A walk that ends at Until ends a scan through junk there too.
    if (Until >= 0)
        m_Reader.ScanProgress = [this, Until](std::int64_t Position) {
            return Position >= Until || Report(Position);
        };
    struct TScanBack
    {
        TProgramStreamPass& Pass;
        ~TScanBack()
        {
            Pass.m_Reader.ScanProgress = [P = &Pass](std::int64_t Position) { return P->Report(Position); };
        }
    } ScanBack{*this};
    const std::vector<std::int64_t>& Planned = File().PlannedPacks;
    m_PlannedPack =
        static_cast<std::size_t>(std::lower_bound(Planned.begin(), Planned.end(), From) - Planned.begin());
    bool SkippingPack = false;
    while (m_Reader.NextPacket()) {
        if (Until >= 0 && m_Reader.PacketPosition() >= Until) {
            m_Reader.Seek(m_Reader.PacketPosition());
            return true;
        }
        if (Report(m_Reader.PacketEnd()))
            return false;
        if (m_Reader.PacketKind() == pkPackHeader) {
            SkippingPack = false;
            // Packs of one size (disc sectors) are what a long run of zeros
            // after the last one must not take from it: told from the file's
            // tail, as its plan saw it.
            if (m_LastPackInput && *m_LastPackInput >= File().TailFrom)
                m_PackSpacing =
                    m_PackSpacing == 0 || m_PackSpacing == m_Reader.PacketPosition() - *m_LastPackInput
                        ? m_Reader.PacketPosition() - *m_LastPackInput
                        : -1;
            m_LastPackInput = m_Reader.PacketPosition();
        }
        if (!SkippingPack) {
            if (m_GapStart && *m_GapStart != m_Reader.PacketPosition())
                CopyGap(*m_GapStart, m_Reader.PacketPosition(), false);
            if (m_Reader.PacketKind() != pkPackHeader && HoldsCutPacket()) {
                Report(m_Source.Size());
                return true;
            }
            switch (m_Reader.PacketKind()) {
            case pkPackHeader: SkippingPack = !WritePackHeader(); break;
            case pkSystemHeader: WriteSystemHeader(); break;
            default: WritePES(); break;
            }
        }
        // A pack left out takes the bytes after its packets with it.
        m_GapStart = SkippingPack ? std::nullopt : std::optional(m_Reader.PacketEnd());
    }
    if (Report(m_Source.Size()))
        return false;
    if (m_GapStart)
        CopyGap(*m_GapStart, m_Source.Size(), true);
    return true;
}

bool TProgramStreamPass::WritePackHeader()
{
    m_State.MaxMuxRate = std::max(m_State.MaxMuxRate, m_Reader.MuxRate());
    if (!m_Settings.RecalcTimecodes) {
        CopyPacket(m_Reader, m_Output);
        return true;
    }
    TTimeCorrector& Line = m_State.Line;
    const std::int64_t Position = m_Output.Position();
    const TTimeCorrector::TPackTime Time = Line.PackTime(m_Reader.SCR(), Position);
    // The first packs of a later file go as the joint's plan has them.
    const TFilePlan& Plan = File();
    if (m_PlannedPack < Plan.PlannedPacks.size() &&
        Plan.PlannedPacks[m_PlannedPack] == m_Reader.PacketPosition()) {
        const std::optional<std::int64_t> Planned = Plan.Joint.SCR[m_PlannedPack++];
        if (!Planned)
            return false;
        const std::uint32_t Rate = Plan.Joint.MuxRate ? Plan.Joint.MuxRate : m_Reader.MuxRate();
        std::uint8_t* Header = CopyPacket(m_Reader, m_Output);
        const std::int64_t SCR = std::max(*Planned, Time.SCR);
        RestampPack(Header, m_Reader.SCR(), SCR);
        if (Plan.Joint.MuxRate)
            (IsProgramPack(Header) ? PatchProgramMuxRate : PatchMuxRate)(Header, Rate);
        m_State.MaxMuxRate = std::max(m_State.MaxMuxRate, Rate);
        Line.KeepPack(SCR, Rate, Position);
        m_PackSCR = SCR;
        m_PackOutput = Position;
        return true;
    }
    // A pack that holds nothing but padding is not needed while its file is
    // behind its own clock: leaving it out lets a constant-rate (VCD) stream
    // catch up instead of arriving later and later. Most packs begin with a
    // packet of a stream: one look at its code tells, without walking the pack.
    const bool Keeps = m_Plan.Headers.Keeps(m_Settings.Index);
    const std::optional<std::uint8_t> Next = m_Reader.NextCode();
    const bool Carries = Next && ((*Next > SystemHeaderCode && *Next != PaddingStream) ||
                                  (*Next == SystemHeaderCode && Keeps));
    if (Time.Behind && !Carries) {
        const TPacket Pack = m_Reader.Mark();
        bool PaddingOnly = true;
        // A later file's system header will be padding too.
        while (PaddingOnly && m_Reader.NextPacket() && m_Reader.PacketKind() != pkPackHeader)
            PaddingOnly = (m_Reader.PacketKind() == pkSystemHeader && !Keeps) ||
                          (m_Reader.PacketKind() == pkPES && m_Reader.PES().StreamId == PaddingStream);
        m_Reader.Restore(Pack);
        if (PaddingOnly)
            return false;
    }
    std::uint8_t* Header = CopyPacket(m_Reader, m_Output);
    RestampPack(Header, m_Reader.SCR(), Time.SCR);
    Line.KeepPack(Time.SCR, m_Reader.MuxRate(), Position);
    m_PackSCR = Time.SCR;
    m_PackOutput = Position;
    return true;
}

void TProgramStreamPass::WriteSystemHeader()
{
    const std::uint32_t Length = m_Reader.PacketLength();
    std::vector<std::uint8_t> Header(Length);
    m_Reader.ReadPacket(Header.data());
    const TKeptHeaders& Kept = m_Plan.Headers;
    const std::size_t Occurrence = m_FileHeaders++;
    // The joined stream keeps one file's system headers, as they end up
    // raised; the rest of a recording repeats them, and they stay too.
    if (Kept.Keeps(m_Settings.Index) || m_Continues) {
        const std::vector<std::uint8_t>* Own = Kept.Own(Header);
        PutBytes(m_Output, Own ? *Own : Header);
        return;
    }
    // Another file's header gives its place in its pack to a padding packet
    // of the same length, so the pack keeps its size; but a DVD's navigation
    // pack starts with its system header, and an authoring tool finds the
    // pack by it: it stays, as the kept one.
    if (const std::vector<std::uint8_t>* For = Kept.Kept(Occurrence); For && m_Reader.ProgramStream()) {
        PutBytes(m_Output, For->size() == Length ? *For : Header);
        return;
    }
    // As muxers write padding: a header byte that says "no time stamps"
    // (0x0F), then 0xFF.
    Put(m_Output, Length, [&](std::uint8_t* Room) {
        std::fill(Room, Room + Length, 0xFF);
        std::copy(Header.begin(), Header.begin() + PacketPrefixLength, Room);
        Room[3] = PaddingStream;
        if (Length > PacketPrefixLength)
            Room[PacketPrefixLength] = 0x0F;
    });
}

void TProgramStreamPass::WritePES()
{
    std::uint8_t* Packet = CopyPacket(m_Reader, m_Output);
    const TPESInfo& PES = m_Reader.PES();
    if (!m_Settings.RecalcTimecodes || PES.StreamId == PaddingStream || !m_Reader.PESHeaderFits())
        return;
    TTimeCorrector& Line = m_State.Line;
    const std::int64_t At = m_Reader.PacketPosition();
    std::uint8_t* Payload = Packet + (PES.PayloadPosition - At);
    if (PES.StreamId == PrivateStream2) {
        if (m_Reader.ProgramStream())
            MoveNavigation(Payload, PES.PayloadLength,
                           {Line.Offset(), File().ElapsedShift, m_Reader.SCR(), m_PackSCR,
                            m_LastPackInput && *m_LastPackInput % DvdSectorSize == 0
                                ? *m_LastPackInput / DvdSectorSize
                                : -1,
                            m_PackOutput % DvdSectorSize == 0 ? m_PackOutput / DvdSectorSize : -1,
                            m_Plan.FirstPicture, m_Plan.VideoEnd});
        return;
    }
    if (PES.ESCRPosition) {
        std::uint8_t* ESCR = Packet + (PES.ESCRPosition - At);
        const std::int64_t Raw = DecodeProgramSCR(ESCR);
        if (const std::int64_t Value = ClockValue(Raw + Line.Offset()); Value != Raw)
            PatchProgramSCR(ESCR, Value);
    }
    TPESInfo Written = PES;
    if (PES.HasPTS) {
        Written.PTS = Line.Stamp(PES.PTS);
        Restamp(Packet + (PES.PTSPosition - At), PES.PTS, Written.PTS);
    }
    if (PES.HasDTS) {
        Written.DTS = Line.Stamp(PES.DTS);
        Restamp(Packet + (PES.DTSPosition - At), PES.DTS, Written.DTS);
    }
    if (PES.StreamId == FirstVideoStream)
        MarkVideoJoint(Payload, PES.PayloadLength, PES.PayloadPosition);
    const std::optional<std::int64_t> Decode = PES.HasDTS   ? std::optional(Written.DTS)
                                               : PES.HasPTS ? std::optional(Written.PTS)
                                                            : std::nullopt;
    if (!m_State.FirstStamp && Decode)
        m_State.FirstStamp = Written.HasPTS ? Written.PTS : *Decode;
    if (Decode)
        m_State.LastDecode[StampedStream(m_Reader)] = *Decode;
    // What waits in the buffers at the next joint comes from near the end.
    if (At >= m_Source.Size() - LeadBytes)
        if (const auto Model = ModelPayload(PES.StreamId, Payload, PES.PayloadLength))
            m_State.Buffers.Add(Model->Stream, Line.FrameTicks(), Model->Data, Model->Length, Decode,
                                PES.STDBufferSize);
    // Pictures are counted only near a file's end, where they decide where it
    // ends; before that each packet's stamp is enough.
    Line.AddPacket(Written, Payload, PES.PayloadLength, At >= m_Source.Size() - PictureCountBytes);
}

void TProgramStreamPass::MarkVideoJoint(std::uint8_t* Payload, std::size_t Length, std::int64_t PayloadAt)
{
    if (!m_GroupSeen && !m_State.Line.IsFirstFile() && !m_Continues)
        m_GroupSeen = MarkBrokenLink(Payload, Length);
    // A sequence end code would end the video for a player wherever it
    // stands: inside the output it becomes zero stuffing of its length, which
    // may stand before any start code. The one the plan keeps is the last,
    // where only zeros of the video follow it.
    const auto NonZero = [](std::uint8_t B) { return B != 0; };
    if (m_State.SequenceEnd && std::any_of(Payload, Payload + Length, NonZero))
        m_State.SequenceEnd.reset();
    std::uint8_t* const End = Payload + Length;
    for (std::uint8_t* At = Payload; (At = static_cast<std::uint8_t*>(std::memchr(
                                          At, SequenceEndCode, static_cast<std::size_t>(End - At))));
         ++At)
        if (At - Payload >= 3 && At[-1] == 1 && At[-2] == 0 && At[-3] == 0) {
            const std::int64_t Where = PayloadAt + (At - 3 - Payload);
            m_State.SequenceEnd.reset();
            if (std::none_of(At + 1, End, NonZero))
                m_State.SequenceEnd = {m_Settings.Index, Where};
            if (m_Plan.SequenceEndFile != m_Settings.Index || m_Plan.SequenceEndAt != Where)
                std::fill(At - 3, At + 1, 0);
        }
}

void WriteCutPacket(TJoinState& State, TOutputFile& Output)
{
    if (State.CutPacketLength)
        Put(Output, State.CutPacketLength, [&](std::uint8_t* Room) {
            std::fill(std::copy(State.CutTail.begin(), State.CutTail.end(), Room),
                      Room + State.CutPacketLength, 0);
        });
    State.CutTail.clear();
    State.CutPacketLength = 0;
}

bool TProgramStreamPass::HoldsCutPacket()
{
    // A packet cut by the end of a file before another, with its stamps as
    // they are (no offset to apply): held back until the next file shows
    // whether it holds the rest.
    if (m_Reader.PacketEnd() <= m_Source.Size() || Last() || !m_Settings.RecalcTimecodes ||
        m_State.Line.Offset() != 0)
        return false;
    std::vector<std::uint8_t>& Tail = m_State.CutTail;
    Tail.resize(static_cast<std::size_t>(m_Source.Size() - m_Reader.PacketPosition()));
    Tail.resize(
        m_Source.Read(Tail.data(), static_cast<std::uint32_t>(Tail.size()), m_Reader.PacketPosition()));
    m_State.CutPacketLength = m_Reader.PacketLength();
    return true;
}

void TProgramStreamPass::CopyGap(std::int64_t From, std::int64_t To, bool EndsFile)
{
    std::int64_t Length = std::min(To, m_Source.Size()) - From;
    // A long run is junk the stream never needed, but for what fills the
    // last sector of a disc track: it stays, so later packs keep the grid.
    if (Length > MaxKeptGap && EndsFile && m_LastPackInput && m_PackSpacing > 0)
        Length =
            std::min(Length, (m_PackSpacing - (From - *m_LastPackInput) % m_PackSpacing) % m_PackSpacing);
    if (Length <= 0 || Length > MaxKeptGap)
        return;
    std::uint8_t* Room = Put(m_Output, static_cast<std::size_t>(Length), [&](std::uint8_t* Room) {
        m_Source.Read(Room, static_cast<std::uint32_t>(Length), From);
    });
    // The last file ends the output as it ends, its end code included.
    if (Last())
        return;
    std::size_t Kept = static_cast<std::size_t>(Length);
    // Before another file, what follows a file's last whole packet loses a
    // packet cut by the end of the file: its header would swallow the next
    // file's start.
    if (EndsFile) {
        TStartCodeScan Scan;
        for (std::size_t I = 0; I < Kept; ++I)
            if (Scan.Feed(Room[I]) && Room[I] >= PackStartCode) {
                m_State.CutTail.assign(Room + (I - 3), Room + Kept);
                m_Output.Unclaim(Kept - (I - 3));
                Kept = I - 3;
                break;
            }
    }
    BlankEndCodes(Room, Kept);
}

bool TProgramStreamPass::ContinuesOutput()
{
    TTimeCorrector& Line = m_State.Line;
    const std::optional<std::int64_t> Free =
        Line.ChannelFree(m_Output.Position() + static_cast<std::int64_t>(m_State.CutTail.size()));
    if (!Free || m_State.LastDecode.empty())
        return false;
    std::optional<std::int64_t> SCR;
    std::map<std::uint16_t, std::int64_t> FirstDecode;
    TLookAhead Ahead(m_Reader, LeadBytes);
    for (int Packets = 0; Packets < 64 && m_Reader.NextPacket(); ++Packets) {
        const TPESInfo& PES = m_Reader.PES();
        if (m_Reader.PacketKind() == pkPackHeader && !SCR)
            SCR = Line.Peek(m_Reader.SCR());
        else if (m_Reader.PacketKind() == pkPES && (PES.HasDTS || PES.HasPTS))
            if (const auto Decode = Line.Peek(PES.HasDTS ? PES.DTS : PES.PTS))
                FirstDecode.try_emplace(StampedStream(m_Reader), *Decode);
    }
    return ClockContinues(SCR, FirstDecode, m_State.LastDecode, *Free, Line.FrameTicks());
}

void TProgramStreamPass::PlanJoint()
{
    // The file's first packs, as they would stand after its offset: read
    // ahead on the file's own line, then walked again to be written.
    const TLeadPacks Lead = ReadLeadPacks(m_Reader, m_State.Line.FileLine(), m_State.Line.FrameTicks(),
                                          m_Plan.Headers.Keeps(m_Settings.Index));
    const std::optional<std::int64_t> Free = m_State.Line.ChannelFree(m_Output.Position());
    TFilePlan& Plan = File();
    Plan.Joint = vantrel::PlanJoint(Lead.Packs, Lead.Units, Lead.Sizes, m_State.Buffers,
                                    Free.value_or(Lead.Packs.empty() ? 0 : Lead.Packs[0].SCR), Lead.FixedRate,
                                    Lead.ToEnd);
    Plan.PlannedPacks.clear();
    for (std::size_t I = 0; I < Plan.Joint.SCR.size(); ++I)
        Plan.PlannedPacks.push_back(Lead.Packs[I].Position);
}

} // namespace vantrel
