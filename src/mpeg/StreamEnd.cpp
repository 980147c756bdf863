#include "mpeg/StreamEnd.h"

#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/audio/AC3.h"
#include "mpeg/audio/DTS.h"
#include "mpeg/audio/MPEGAudio.h"
#include "mpeg/ps/SubStreams.h"
#include "mpeg/video/SequenceHeader.h"

#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

// A picture header begins with its temporal reference: 10 bits, its place in
// display order within its group of pictures.
int TemporalReferenceOf(const std::uint8_t* Header)
{
    return (Header[0] << 2) | (Header[1] >> 6);
}

} // namespace

void TVideoEnd::Add(std::optional<std::int64_t> PTS, std::optional<std::int64_t> DTS,
                    const std::uint8_t* Payload, std::size_t Length, bool Count, bool NewPacket)
{
    if (NewPacket) {
        m_StampPTS = PTS;
        m_StampDecode = DTS ? DTS : PTS;
    }
    if (PTS)
        m_MaxPTS = m_MaxPTS ? std::max(*m_MaxPTS, *PTS) : *PTS;
    if (!Payload)
        return;
    if (!Count) {
        // The stamped picture alone, read within this payload.
        m_Scan.Reset();
        m_HeaderNeed = 0;
        if (!PTS)
            return;
        TStartCodeScan Scan;
        ForEachStartCode(Payload, Length, Scan, [&](std::size_t At) {
            if (Payload[At] != PictureStartCode || Length - At < 3)
                return false;
            NewGroup(); // the groups in between were not looked at
            PictureStart();
            TemporalReference(TemporalReferenceOf(Payload + At + 1));
            return true;
        });
        return;
    }
    // The rest of a picture header that the last payload cut.
    for (std::size_t I = 0; m_HeaderNeed > 0 && I < Length; ++I)
        if (m_Header[2 - m_HeaderNeed] = Payload[I]; --m_HeaderNeed == 0)
            TemporalReference(TemporalReferenceOf(m_Header));
    ForEachStartCode(Payload, Length, m_Scan, [&](std::size_t At) {
        if (Payload[At] == GroupStartCode) {
            // Where the groups closed since the last stamped picture end:
            // its own group after it, then whole groups without a stamp.
            if (m_AnchorInGroup)
                m_GroupsAfterAnchor = FieldsBetween(m_AnchorReference, m_GroupMaxReference);
            else if (m_GroupsAfterAnchor)
                *m_GroupsAfterAnchor += FieldsBetween(0, m_GroupMaxReference);
            m_AnchorInGroup = false;
            NewGroup();
        } else if (Payload[At] == ExtensionStartCode && Length - At >= 5) {
            // MPEG-2: how long the picture before shows; whether the sequence
            // repeats frames or fields.
            if (const std::optional<int> Fields = PictureFields(Payload + At + 1, m_ProgressiveSequence))
                PictureLasts(*Fields);
            else if (const std::optional<bool> Progressive = ProgressiveSequenceOf(Payload + At + 1))
                m_ProgressiveSequence = *Progressive;
        } else if (Payload[At] == PictureStartCode) {
            PictureStart();
            if (Length - At >= 3)
                TemporalReference(TemporalReferenceOf(Payload + At + 1));
            else if ((m_HeaderNeed = static_cast<int>(At + 3 - Length)) == 1)
                m_Header[0] = Payload[At + 1];
        }
        return false;
    });
}

void TVideoEnd::PictureStart()
{
    m_PendingIsAnchor = m_StampPTS.has_value();
    m_LastIsAnchor = m_PendingIsAnchor;
    m_LastReference = -1;
    if (!m_PendingIsAnchor) {
        m_FieldsAfter += 2;
        return;
    }
    m_AnchorPTS = std::exchange(m_StampPTS, std::nullopt);
    m_AnchorDecode = m_StampDecode;
    m_AnchorInGroup = true;
    m_GroupsAfterAnchor.reset();
    m_AnchorFields = 2;
    m_FieldsAfter = 0;
}

void TVideoEnd::TemporalReference(int Reference)
{
    if (m_PendingIsAnchor)
        m_AnchorReference = Reference;
    m_GroupMaxReference = std::max(m_GroupMaxReference, Reference);
    m_LastReference = Reference;
    // The second field picture of a frame shares the first one's place.
    std::uint8_t& Fields = m_Fields[static_cast<std::size_t>(Reference)];
    Fields = m_FieldReference == Reference ? static_cast<std::uint8_t>(Fields + 2) : 2;
    m_FieldReference = -1;
}

void TVideoEnd::NewGroup()
{
    std::fill(m_Fields.begin(), m_Fields.begin() + (m_GroupMaxReference + 1), 0);
    m_GroupMaxReference = -1;
    m_LastReference = m_FieldReference = -1;
}

void TVideoEnd::PictureLasts(int Fields)
{
    // Counted as a frame when its header was read.
    const int More = Fields - 2;
    (m_LastIsAnchor ? m_AnchorFields : m_FieldsAfter) += More;
    if (m_LastReference >= 0) {
        std::uint8_t& Shown = m_Fields[static_cast<std::size_t>(m_LastReference)];
        Shown = static_cast<std::uint8_t>(Shown + More);
        m_FieldReference = Fields == 1 && Shown == 1 ? m_LastReference : -1;
    }
    m_LastIsAnchor = false;
    m_LastReference = -1; // one extension a picture
}

std::int64_t TVideoEnd::FieldsBetween(int From, int To) const
{
    std::int64_t Fields = 0;
    for (int Reference = From; Reference <= To; ++Reference)
        Fields +=
            m_Fields[static_cast<std::size_t>(Reference)] ? m_Fields[static_cast<std::size_t>(Reference)] : 2;
    return Fields;
}

std::optional<std::int64_t> TVideoEnd::End(std::int64_t FrameTicks) const
{
    if (!m_MaxPTS)
        return std::nullopt;
    std::int64_t End = *m_MaxPTS + FrameTicks;
    if (m_AnchorPTS) {
        if (m_AnchorInGroup)
            End = std::max(End, *m_AnchorPTS +
                                    FieldsBetween(m_AnchorReference, m_GroupMaxReference) * FrameTicks / 2);
        // A group after the stamped picture's shows after it, in its own order.
        else if (m_GroupsAfterAnchor)
            End =
                std::max(End, *m_AnchorPTS + (*m_GroupsAfterAnchor + FieldsBetween(0, m_GroupMaxReference)) *
                                                 FrameTicks / 2);
        End = std::max(End, *m_AnchorDecode + (m_AnchorFields + m_FieldsAfter) * FrameTicks / 2);
    }
    return End;
}

void TAudioEnd::BeginFile()
{
    *this = TAudioEnd{};
}

void TAudioEnd::Add(std::optional<std::int64_t> PTS, const std::uint8_t* Payload, std::size_t Length)
{
    if (!m_Searched && Payload) {
        m_Head.insert(m_Head.end(), Payload, Payload + std::min(Length, SearchBytes));
        if (m_Head.size() >= SearchBytes)
            Search();
    }
    if (!PTS) {
        m_BytesSince += static_cast<std::int64_t>(Length);
        return;
    }
    // The stamp belongs to the first frame that starts in the packet; the
    // bytes before it end the frame before.
    m_LastPTS = PTS;
    const std::size_t First = Payload && m_Header ? FindFrameOf(*m_Header, Payload, Length) : 0;
    m_BytesSince = static_cast<std::int64_t>(Length - std::min(First, Length));
}

void TAudioEnd::AddPrivate(std::optional<std::int64_t> PTS, const std::uint8_t* Payload, std::size_t Length)
{
    if (Length == 0 || !IsSubStreamAudio(Payload[0]))
        return;
    m_Searched = true;
    if (m_PrivateRate == 0)
        m_PrivateRate = PrivateAudioBitRate(Payload, Length);
    const std::size_t Header = std::min(SubStreamHeaderLength(Payload[0]), Length);
    const std::optional<std::size_t> First = SubStreamFirstFrame(Payload, Length);
    if (PTS && First) {
        m_LastPTS = PTS;
        m_BytesSince = static_cast<std::int64_t>(Length - *First);
    } else {
        m_BytesSince += static_cast<std::int64_t>(Length - Header);
    }
}

std::int32_t PrivateAudioBitRate(const std::uint8_t* Payload, std::size_t Length)
{
    if (Length == 0)
        return 0;
    if (SubStreamKind(Payload[0]) == sskLPCM)
        return LPCMBitRate(Payload, Length);
    const std::optional<std::size_t> First = SubStreamFirstFrame(Payload, Length);
    if (!First)
        return 0;
    const std::span<const std::uint8_t> Frame(Payload + *First, Length - *First);
    if (const auto AC3 = DecodeAC3FrameHeader(Frame))
        return static_cast<std::int32_t>(AC3->BitRate);
    if (const auto DTS = DecodeDTSFrameHeader(Frame))
        return static_cast<std::int32_t>(DTS->BitRate);
    return 0;
}

void TAudioEnd::Search() const
{
    m_Searched = true;
    TAudioFrameHeader Header;
    if (FindAudioFrameHeader(m_Head, Header))
        m_Header = Header;
    m_Head.clear();
    m_Head.shrink_to_fit();
}

std::int32_t TAudioEnd::BitRate() const
{
    if (m_PrivateRate)
        return m_PrivateRate;
    if (!m_Searched && !m_Head.empty())
        Search();
    return m_Header ? m_Header->BitRate : 0;
}

std::optional<std::int64_t> TAudioEnd::End() const
{
    if (!m_LastPTS)
        return std::nullopt;
    const std::int32_t Rate = BitRate();
    return *m_LastPTS + (Rate > 0 ? m_BytesSince * 8 * ClockRate / Rate : 0);
}

} // namespace vantrel
