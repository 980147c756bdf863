#include "join/TransportPayloads.h"

#include "join/VideoEdits.h"
#include "mpeg/PESHeader.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ts/Sections.h"
#include "mpeg/video/H264.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace vantrel {

namespace {

// Data's first Length bytes, and more of the PID's payload after them up to
// Count in all.
std::vector<std::uint8_t> ReadAhead(TPayloadContext& Context, std::uint16_t PID, const std::uint8_t* Data,
                                    std::size_t Length, std::size_t Count, bool Sections)
{
    std::vector<std::uint8_t> Bytes(Data, Data + std::min(Length, Count));
    if (Bytes.size() < Count && Context.Peek) {
        const std::vector<std::uint8_t> More = Context.Peek(PID, Count - Bytes.size(), Sections);
        Bytes.insert(Bytes.end(), More.begin(), More.end());
    }
    return Bytes;
}

// A stamp that keeps its value keeps its bytes, marker bits and all.
std::int64_t Restamp(std::uint8_t* Field, std::int64_t Raw, std::int64_t Value)
{
    if (ClockValue(Value) != Raw)
        PatchTimeStamp(Field, ClockValue(Value));
    return Value;
}

// The start codes that end a stream's video for a decoder wherever they
// stand, by their fourth byte: MPEG video's sequence end code (00 00 01 B7),
// H.264's end of sequence and end of stream NAL units (00 00 01 0A and 0B,
// their nal_ref_idc always 0). Inside a joined stream their four bytes
// become zeros: zero stuffing may come before any MPEG start code, and an
// H.264 byte stream allows zero bytes between NAL units (trailing_zero_8bits,
// ISO/IEC 14496-10 B.1).
constexpr std::uint8_t MPEGVideoEnds[] = {SequenceEndCode};
constexpr std::uint8_t H264Ends[] = {ntEndOfSequence, ntEndOfStream};

// A payload's last bytes that may begin an end code the next packet ends:
// 00, 00 00, or 00 00 01.
bool MayRunOn(const std::uint8_t* Data, std::size_t Length)
{
    return Length > 0 && (Data[Length - 1] == 0 || (Length > 2 && Data[Length - 1] == 1 &&
                                                    Data[Length - 2] == 0 && Data[Length - 3] == 0));
}

// How many first bytes of an end code Data ends with, where Next (the
// stream's next payload bytes) holds the rest of it; 0 for none.
std::size_t EndRunningOn(const std::uint8_t* Data, std::size_t Length, std::span<const std::uint8_t> Next,
                         std::span<const std::uint8_t> Codes)
{
    for (const std::uint8_t Code : Codes) {
        const std::uint8_t EndCode[] = {0, 0, 1, Code};
        for (std::size_t K = 1; K <= 3 && K <= Length && 4 - K <= Next.size(); ++K)
            if (std::equal(EndCode, EndCode + K, Data + Length - K) &&
                std::equal(EndCode + K, EndCode + 4, Next.data()))
                return K;
    }
    return 0;
}

// Blanks the end codes that lie wholly in Data; true when there was one.
bool BlankWholeEnds(std::uint8_t* Data, std::size_t Length, std::span<const std::uint8_t> Codes)
{
    bool Blanked = false;
    std::uint8_t* const End = Data + Length;
    for (const std::uint8_t Code : Codes)
        for (std::uint8_t* At = Data + std::min<std::size_t>(Length, 3);
             (At = static_cast<std::uint8_t*>(std::memchr(At, Code, static_cast<std::size_t>(End - At))));
             ++At)
            if (At[-1] == 1 && At[-2] == 0 && At[-3] == 0) {
                std::fill(At - 3, At + 1, 0);
                Blanked = true;
            }
    return Blanked;
}

} // namespace

namespace {

// Whether a packet has a payload the edits may read.
bool EditsPayload(const TTransportPacket& Packet)
{
    return Packet.HasPayload && Packet.PayloadLength > 0 && Packet.Scrambling == 0;
}

// A packet sent twice is written twice alike: as the one before was written
// when an edit changed it (Last), else as it is. True for such a packet.
bool RepeatsLast(bool Duplicate, const std::vector<std::uint8_t>& Last, std::uint8_t* Payload,
                 std::size_t Length)
{
    if (Duplicate && Last.size() == Length)
        std::memcpy(Payload, Last.data(), Length);
    return Duplicate;
}

} // namespace

void TPendingBytes::Set(std::vector<std::uint8_t> Bytes, std::size_t From)
{
    m_Bytes = std::move(Bytes);
    m_At = From;
}

std::size_t TPendingBytes::Put(std::uint8_t* Data, std::size_t Length)
{
    const std::size_t Count = std::min(Length, m_Bytes.size() - m_At);
    // Nothing pending is the common case, and an empty vector has no data.
    if (Count == 0)
        return 0;
    std::memcpy(Data, m_Bytes.data() + m_At, Count);
    m_At += Count;
    if (m_At == m_Bytes.size())
        Reset();
    return Count;
}

void TStreamEdit::Reset()
{
    m_Header.Reset();
    m_Last.clear();
    m_PTS.reset();
    m_Decode.reset();
    m_Sound.clear();
    m_ZeroNext = 0;
    m_Bytes.reset();
}

void TStreamEdit::Edit(TPayloadContext& Context, const TTransportPacket& Packet, std::uint8_t* Out,
                       bool Duplicate)
{
    std::uint8_t* Payload = Out + Packet.PayloadOffset;
    const std::size_t Length = Packet.PayloadLength;
    if (!EditsPayload(Packet) || RepeatsLast(Duplicate, m_Last, Payload, Length))
        return;
    const bool New = Packet.PayloadUnitStart;
    std::size_t At = 0;
    if (New) {
        FlushSound(Context);
        m_Header.Reset();
        m_ZeroNext = 0;
        At = EditHeader(Context, Packet, Payload);
    } else if (m_Header.Pending()) {
        At = m_Header.Put(Payload, Length);
    }
    std::uint8_t* Data = Payload + At;
    const std::size_t Count = Length - At;
    const bool Changed =
        (m_Stream.Coding == scH264 ? EditH264(Context, Data, Count)
                                   : m_Stream.Video && Context.Recalc && EditVideo(Context, Data, Count)) ||
        New || At > 0;
    Learn(Context, Packet.Position, Data, Count, New);
    if (Changed)
        m_Last.assign(Payload, Payload + Length);
    else
        m_Last.clear();
}

void TStreamEdit::Learn(TPayloadContext& Context, std::int64_t Position, const std::uint8_t* Data,
                        std::size_t Count, bool New)
{
    if (!Context.Recalc)
        return;
    TJoinState& State = *Context.State;
    // The video's end is told by its stamped packets, and near the file's
    // end by its pictures: the packets in between tell nothing.
    const bool CountsPictures = Position >= Context.SourceSize - PictureCountBytes;
    if (m_Stream.Video) {
        if (New || CountsPictures)
            State.Line.AddTransportVideo(m_Stream.Out, New ? m_PTS : std::nullopt,
                                         New && m_Decode != m_PTS ? m_Decode : std::nullopt, {Data, Count}, New,
                                         CountsPictures);
    } else
        m_Sound.insert(m_Sound.end(), Data, Data + Count);
    // What waits in the buffers at the next joint comes from near the end.
    if (Position >= Context.SourceSize - BufferBytes)
        State.Buffers.Add(m_Stream.Out, State.Line.FrameTicks(), Data, Count, New ? m_Decode : std::nullopt, 0,
                          m_Stream.Coding, New);
}

// Most packets carry the middle of a picture: no header, no stamp, nothing
// to edit, and nothing the join's line learns from them away from the file's
// end.
bool TStreamEdit::Quiet(const TPayloadContext& Context) const
{
    if (!m_Stream.Video || m_Header.Pending() ||
        (m_Stream.Coding != scMPEG1Video && m_Stream.Coding != scMPEG2Video))
        return false;
    return !Context.Recalc || (m_ZeroNext == 0 && !(Context.Later && !Context.Continues && !m_GroupSeen));
}

std::int64_t TStreamEdit::LearnsFrom(const TPayloadContext& Context)
{
    return Context.Recalc ? Context.SourceSize - std::max(PictureCountBytes, BufferBytes)
                          : Context.SourceSize;
}

TEndCodeScan::TEndCodeScan(const TPayloadContext& Context, std::span<const std::uint8_t> Bytes)
    : m_Bytes(Bytes), m_Looks(Context.Recalc && !Context.Last), m_Hit(m_Looks ? Find(0) : Bytes.size())
{
}

std::size_t TEndCodeScan::Find(std::size_t From) const
{
    if (From >= m_Bytes.size())
        return m_Bytes.size();
    const void* At = std::memchr(m_Bytes.data() + From, SequenceEndCode, m_Bytes.size() - From);
    return At ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(At) - m_Bytes.data()) : m_Bytes.size();
}

bool TEndCodeScan::Holds(std::size_t From, std::size_t Length, std::size_t Next)
{
    if (!m_Looks)
        return false;
    const std::uint8_t* Bytes = m_Bytes.data();
    // A fourth byte among the payload's first three would end a code that
    // the stream's payload before began, and that one's edit saw to it.
    for (const std::size_t End = From + Length; m_Hit < End; m_Hit = Find(m_Hit + 1))
        if (m_Hit >= From + 3 && Bytes[m_Hit - 1] == 1 && Bytes[m_Hit - 2] == 0 && Bytes[m_Hit - 3] == 0)
            return true;
    return MayRunOn(Bytes + From, Length) &&
           (Next == Unknown || Next + 3 > m_Bytes.size() ||
            EndRunningOn(Bytes + From, Length, m_Bytes.subspan(Next, 3), MPEGVideoEnds) > 0);
}

std::size_t CountPlainPackets(std::span<const std::uint8_t> Ahead, std::uint16_t Size, std::size_t Most,
                              TEndCodeScan& Ends, TContinuityTracker& Continuity,
                              const std::function<bool(std::uint16_t PID)>& Passes)
{
    const std::size_t Sync = SyncOffset(Size);
    std::uint16_t Quiet = PIDCount; // whose stream was seen to pass its packets
    std::size_t Count = 0;
    for (std::size_t At = 0; Count < Most && At + Size + Sync < Ahead.size(); At += Size, ++Count) {
        const std::uint8_t* H = Ahead.data() + At + Sync;
        const std::uint16_t PID = PacketPID(H);
        if (H[0] != SyncByte || H[Size] != SyncByte || (H[1] & 0xC0) != 0 || (H[3] & 0xF0) != 0x10 ||
            (PID != Quiet && !Passes(PID)))
            break;
        // The next packet's first payload bytes, where it is the stream's.
        const std::uint8_t* N = H + Size;
        const bool Next = At + Sync + Size + 7 <= Ahead.size() && (N[1] & 0x80) == 0 && PacketPID(N) == PID &&
                          (N[3] & 0x30) == 0x10;
        const std::size_t Payload = At + Sync + 4;
        if (Ends.Holds(Payload, TransportPacketLength - 4, Next ? Payload + Size : TEndCodeScan::Unknown) ||
            !Continuity.TakeNext(PID, H[3] & 0x0F))
            break;
        Quiet = PID;
    }
    return Count;
}

std::size_t TStreamEdit::EditHeader(TPayloadContext& Context, const TTransportPacket& Packet,
                                    std::uint8_t* Payload)
{
    const std::size_t Length = Packet.PayloadLength;
    m_PTS.reset();
    m_Decode.reset();
    std::vector<std::uint8_t> Header =
        ReadAhead(Context, Packet.PID, Payload, Length, PESHeaderFixedLength, false);
    const std::size_t HeaderLength = PESHeaderLength(Header);
    if (HeaderLength == 0)
        return 0;
    if (HeaderLength > Header.size())
        Header = ReadAhead(Context, Packet.PID, Payload, Length, HeaderLength, false);
    TPESInfo PES;
    if (Header.size() < HeaderLength || !DecodePESHeader(Header, 0, PES))
        return std::min(HeaderLength, Length);
    Header.resize(HeaderLength);
    if (Context.Recalc) {
        TJoinState& State = *Context.State;
        TTimeCorrector& Line = State.Line;
        if (PES.ESCRPosition) {
            std::uint8_t* ESCR = &Header[static_cast<std::size_t>(PES.ESCRPosition)];
            const std::int64_t Raw = DecodeProgramSCR(ESCR);
            if (const std::int64_t Value = ClockValue(Raw + Line.Offset()); Value != Raw)
                PatchProgramSCR(ESCR, Value);
        }
        if (PES.HasPTS)
            m_PTS = Restamp(&Header[static_cast<std::size_t>(PES.PTSPosition)], PES.PTS, Line.Stamp(PES.PTS));
        m_Decode = m_PTS;
        if (PES.HasDTS)
            m_Decode =
                Restamp(&Header[static_cast<std::size_t>(PES.DTSPosition)], PES.DTS, Line.Stamp(PES.DTS));
        if (m_Decode) {
            if (!State.FirstStamp)
                State.FirstStamp = m_PTS.value_or(*m_Decode);
            State.LastDecode[m_Stream.Out] = *m_Decode;
        }
    }
    const std::size_t Here = std::min(HeaderLength, Length);
    std::memcpy(Payload, Header.data(), Here);
    if (HeaderLength > Here)
        m_Header.Set(std::move(Header), Here);
    return Here;
}

bool TStreamEdit::EditVideo(TPayloadContext& Context, std::uint8_t* Data, std::size_t Length)
{
    if (m_Stream.Coding != scMPEG1Video && m_Stream.Coding != scMPEG2Video)
        return false;
    // A packet changed here is what its copy sent twice must repeat: all
    // but the rare ones that lose an end code or mark a group.
    bool Changed = BlankEnds(Context, Data, Length, MPEGVideoEnds);
    // A later file's first group lost the pictures of the clip before it.
    if (Context.Later && !Context.Continues && !m_GroupSeen)
        Changed = (m_GroupSeen = MarkBrokenLink(Data, Length)) || Changed;
    return Changed;
}

bool TStreamEdit::BlankEnds(TPayloadContext& Context, std::uint8_t* Data, std::size_t Length,
                            std::span<const std::uint8_t> Codes)
{
    bool Changed = m_ZeroNext > 0;
    if (m_ZeroNext) {
        const std::size_t Count = std::min(m_ZeroNext, Length);
        std::fill(Data, Data + Count, 0);
        m_ZeroNext -= Count;
    }
    // The last file's end codes end the output's video; anyone else's
    // would end it early and becomes zeros.
    if (Context.Last)
        return Changed;
    Changed = BlankWholeEnds(Data, Length, Codes) || Changed;
    if (!MayRunOn(Data, Length) || !Context.Peek)
        return Changed;
    // One that the next packet of the stream ends: its first K bytes here.
    const std::vector<std::uint8_t> Next = Context.Peek(m_Stream.PID, 3, false);
    if (const std::size_t K = EndRunningOn(Data, Length, Next, Codes)) {
        std::fill(Data + Length - K, Data + Length, 0);
        m_ZeroNext = 4 - K;
        return true;
    }
    return Changed;
}

bool TStreamEdit::EditH264(TPayloadContext& Context, std::uint8_t* Data, std::size_t Length)
{
    bool Changed = Context.Recalc && BlankEnds(Context, Data, Length, H264Ends);
    if (!m_Bytes)
        return Changed;
    // A later file's open GOP lost the pictures its leading ones refer to.
    if (const std::optional<TFlagPosition>& Flag = Context.Plan->Transport.BrokenLink; Flag && Context.Recalc)
        Changed = MarkH264BrokenLink(Data, Length, *m_Bytes, *Flag) == blSet || Changed;
    *m_Bytes += static_cast<std::int64_t>(Length);
    return Changed;
}

void TStreamEdit::FlushSound(TPayloadContext& Context)
{
    if (m_Stream.Video || !Context.Recalc || (m_Sound.empty() && !m_PTS))
        return;
    Context.State->Line.AddTransportSound(m_Stream.Out, m_Stream.Coding, m_Stream.SampleRate, m_PTS, m_Sound);
    m_Sound.clear();
}

void TStreamEdit::Finish(TPayloadContext& Context)
{
    FlushSound(Context);
    if (m_Stream.Coding == scH264 && Context.Recalc)
        Context.State->Buffers.Finish(m_Stream.Out);
}

void TTableEdit::Reset()
{
    m_Section.Reset();
    m_Last.clear();
}

void TTableEdit::Edit(TPayloadContext& Context, const TTransportPacket& Packet, std::uint8_t* Out,
                      bool Duplicate)
{
    std::uint8_t* Payload = Out + Packet.PayloadOffset;
    const std::size_t Length = Packet.PayloadLength;
    if (!EditsPayload(Packet) || RepeatsLast(Duplicate, m_Last, Payload, Length))
        return;
    if (!Packet.PayloadUnitStart) {
        m_Section.Put(Payload, Length);
    } else {
        // pointer_field: the bytes before the next section end the one before.
        const std::size_t Pointer = Payload[0];
        m_Section.Put(Payload + 1, std::min(Pointer, Length - 1));
        m_Section.Reset();
        // Sections follow each other until 0xFF stuffing fills the packet.
        for (std::size_t At = 1 + Pointer; At < Length && Payload[At] != 0xFF;) {
            std::vector<std::uint8_t> Section = Rewrite(Context, Payload + At, Length - At);
            if (Section.empty())
                break;
            const std::size_t Here = std::min(Section.size(), Length - At);
            std::memcpy(Payload + At, Section.data(), Here);
            At += Section.size();
            if (Here < Section.size())
                m_Section.Set(std::move(Section), Here);
        }
    }
    m_Last.assign(Payload, Payload + Length);
}

std::vector<std::uint8_t> TTableEdit::Rewrite(TPayloadContext& Context, const std::uint8_t* Data,
                                              std::size_t Length)
{
    std::vector<std::uint8_t> Section = ReadAhead(Context, m_PID, Data, Length, SectionHeaderLength, true);
    if (Section.size() < SectionHeaderLength)
        return {};
    const std::size_t Total = SectionHeaderLength + (((Section[1] & 0x0F) << 8) | Section[2]);
    Section = ReadAhead(Context, m_PID, Data, Length, Total, true);
    // A section the file's end cuts stays as it is.
    if (Section.size() < Total)
        return {};
    if (!IsEditedTable(m_PID, Section[0]))
        return Section;
    std::optional<std::vector<std::uint8_t>> Mapped = MapSection(Section, Context.Plan->Transport.Map);
    // A table of a program the output leaves out gives its place to stuffing.
    if (!Mapped)
        return std::vector<std::uint8_t>(Total, 0xFF);
    if (Mapped->size() > Total)
        return Section;
    const std::optional<TTableKey> Key = TableKeyOf(m_Out, *Mapped);
    if (Key) {
        const auto& Shifts = Context.Plan->Transport.VersionShift;
        if (const auto Shift = Shifts.find(*Key); Shift != Shifts.end())
            if (const std::optional<TSectionHeader> Header = DecodeSectionHeader(*Mapped))
                SetSectionVersion(*Mapped, static_cast<std::uint8_t>((Header->Version + Shift->second) % 32));
        Context.State->Transport.Tables.Written(*Key, *Mapped);
    }
    // A PAT that lost programs keeps its place, stuffed to its length.
    Mapped->resize(Total, 0xFF);
    return *Mapped;
}

} // namespace vantrel
