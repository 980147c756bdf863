#include "mpeg/video/H264Units.h"

#include "mpeg/BitReader.h"

#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

// What of a NAL unit is read: a slice header fits in its first bytes, even
// with emulation prevention in it; parameter sets and SEI whole, up to a
// size no real one reaches.
std::size_t NalCap(std::uint8_t Type)
{
    if (HasSliceHeader(Type))
        return 64;
    if (Type == ntSEI || Type == ntSPS || Type == ntPPS)
        return 65536;
    return 1;
}

} // namespace

void TH264UnitSplitter::Add(const std::uint8_t* Payload, std::size_t Length,
                            std::optional<std::int64_t> Stamp)
{
    // A stamp goes to a unit by where its first NAL unit's header byte
    // stands: only the packet of the unit being read can still give one
    // besides this; later units begin in this payload or those to come.
    std::erase_if(m_Stamps,
                  [&](const TStampedPacket& Packet) { return !m_InNal || !Packet.Holds(m_NalStart); });
    if (Stamp)
        m_Stamps.push_back({m_Bytes, m_Bytes + static_cast<std::int64_t>(Length), *Stamp});
    const auto ByteAt = [&](std::int64_t At) -> int {
        if (At >= m_Bytes)
            return Payload[At - m_Bytes];
        const std::int64_t Back = m_Bytes - At; // 1 to 4
        return Back <= 4 && At >= 0 ? static_cast<int>((m_Last4 >> (8 * (Back - 1))) & 0xFF) : -1;
    };
    std::size_t CopyFrom = 0;
    const auto Copy = [&](std::size_t To) {
        if (m_InNal && m_Nal.size() < m_NalCap && To > CopyFrom)
            m_Nal.insert(m_Nal.end(), Payload + CopyFrom,
                         Payload + std::min(To, CopyFrom + (m_NalCap - m_Nal.size())));
        CopyFrom = To;
    };
    ForEachStartCode(Payload, Length, m_Scan, [&](std::size_t I) {
        Copy(I);
        const std::int64_t Prefix = m_Bytes + static_cast<std::int64_t>(I) - 3;
        EndNal(Prefix);
        m_InNal = true;
        m_NalStart = m_Bytes + static_cast<std::int64_t>(I);
        m_NalPrefix = ByteAt(Prefix - 1) == 0 ? Prefix - 1 : Prefix;
        m_NalCap = NalCap(NalType(Payload[I]));
        return false;
    });
    Copy(Length);
    for (std::size_t I = Length > 4 ? Length - 4 : 0; I < Length; ++I)
        m_Last4 = (m_Last4 << 8) | Payload[I];
    m_Bytes += static_cast<std::int64_t>(Length);
}

void TH264UnitSplitter::Finish()
{
    EndNal(m_Bytes);
    if (m_HasPicture)
        CloseUnit();
    m_Unit.reset();
}

// The NAL unit being read ends where the next start code (or the stream)
// begins; the zeros before that belong to no unit.
void TH264UnitSplitter::EndNal(std::int64_t End)
{
    if (!m_InNal)
        return;
    const std::int64_t Length = End - m_NalStart;
    if (Length <= static_cast<std::int64_t>(m_Nal.size())) {
        m_Nal.resize(static_cast<std::size_t>(std::max<std::int64_t>(Length, 0)));
        while (!m_Nal.empty() && m_Nal.back() == 0)
            m_Nal.pop_back();
    }
    if (!m_Nal.empty())
        ProcessNal();
    m_Nal.clear();
    m_InNal = false;
}

void TH264UnitSplitter::ProcessNal()
{
    const std::uint8_t Type = NalType(m_Nal[0]);
    if (Type == ntPrefix && m_HasPicture) {
        if (!m_Prefix)
            m_Prefix = {m_NalPrefix, m_NalStart};
        return;
    }
    // Where a unit that this NAL unit opens begins: at its prefix, if it has one.
    const auto Prefix = std::exchange(m_Prefix, std::nullopt);
    const TNalPlace Place = Prefix.value_or(TNalPlace{m_NalPrefix, m_NalStart});
    if (OpensAccessUnit(Type) || Type == ntPrefix) {
        if (m_HasPicture)
            CloseUnit();
        if (!m_Unit)
            OpenUnit(Place);
        if (Type == ntSPS || Type == ntPPS)
            m_Sets.Add(UnescapeNal(m_Nal).Bytes);
        else if (Type == ntSEI)
            ReadSei(UnescapeNal(m_Nal));
        return;
    }
    if (!HasSliceHeader(Type))
        return; // the rest of a picture or of its unit: partitions, filler, end of sequence
    const TRbsp Rbsp = UnescapeNal(m_Nal);
    std::optional<TSliceHeader> Slice = ParseSliceHeader(Rbsp.Bytes, m_Sets);
    const bool Decodable = Slice.has_value();
    if (Slice) {
        const bool Primary = Slice->RedundantPicCnt == 0;
        if (m_HasPicture && Primary && m_LastSlice &&
            StartsNewPicture(*m_LastSlice, *Slice, *m_Sets.SpsOf(Slice->PpsId)))
            CloseUnit();
    } else {
        // Without its parameter sets only the first fields can be read: a
        // slice of the first macroblock, or another IDR flag, begins a picture.
        TBitReader Bits(Rbsp.Bytes, 8);
        Slice.emplace();
        Slice->NalType = Type;
        Slice->NalRefIdc = NalRefIdc(m_Nal[0]);
        Slice->FirstMb = Bits.UE();
        Slice->SliceType = static_cast<std::uint8_t>(std::min<std::uint32_t>(Bits.UE(), 9));
        if (m_HasPicture && (Slice->FirstMb == 0 || Slice->Idr() != m_Unit->Idr))
            CloseUnit();
    }
    if (!m_Unit)
        OpenUnit(Place);
    AddSlice(*Slice, Decodable);
}

void TH264UnitSplitter::OpenUnit(TNalPlace Place)
{
    m_Unit.emplace();
    m_Unit->Start = Place.Prefix;
    const auto Packet = std::find_if(m_Stamps.begin(), m_Stamps.end(),
                                     [&](const TStampedPacket& P) { return P.Holds(Place.Header); });
    if (Packet != m_Stamps.end()) {
        m_Unit->Stamp = Packet->Stamp;
        m_Stamps.erase(Packet);
    }
}

void TH264UnitSplitter::AddSlice(const TSliceHeader& Slice, bool Decodable)
{
    TH264Unit& Unit = *m_Unit;
    if (Slice.RedundantPicCnt != 0)
        return; // a copy of a primary picture's slice, for decoders that lost it
    const TSliceKind Kind = Slice.Kind() == skSP ? skP : Slice.Kind() == skSI ? skI : Slice.Kind();
    if (!m_HasPicture) {
        m_HasPicture = true;
        Unit.Kind = Kind;
        Unit.Idr = Slice.Idr();
        Unit.Decodable = Decodable;
        if (Decodable) {
            const TSequenceParameterSet& Sps = *m_Sets.SpsOf(Slice.PpsId);
            Unit.Field = Slice.FieldPic;
            Unit.BottomField = Slice.BottomField;
            Unit.SpsId = Sps.Id;
            Unit.FrameNum = Slice.FrameNum;
            Unit.PicOrderCnt = PicOrderCnt(Slice, Sps);
        }
    } else if (Kind == skB || (Kind == skP && Unit.Kind == skI)) {
        Unit.Kind = Kind;
    }
    Unit.Reference = Unit.Reference || Slice.NalRefIdc != 0;
    if (Decodable)
        m_LastSlice = Slice;
}

void TH264UnitSplitter::ReadSei(const TRbsp& Rbsp)
{
    for (const TSeiMessage& Message : SeiMessages(Rbsp.Bytes)) {
        const auto Payload = std::span(Rbsp.Bytes).subspan(Message.Offset, Message.Size);
        if (Message.Type == SeiRecoveryPoint) {
            m_Unit->RecoveryPoint = ParseRecoveryPoint(Payload);
            if (m_Unit->RecoveryPoint) {
                m_Unit->BrokenLink =
                    FlagPosition(Rbsp, m_Nal, Message.Offset * 8 + m_Unit->RecoveryPoint->BrokenLinkBit);
                m_Unit->BrokenLink.Byte += m_NalStart;
            }
        } else if (Message.Type == SeiPicTiming) {
            m_Timing.assign(Payload.begin(), Payload.end());
        }
    }
}

std::optional<std::int64_t> TH264UnitSplitter::PicOrderCnt(const TSliceHeader& Slice,
                                                           const TSequenceParameterSet& Sps)
{
    if (Sps.PicOrderCntType == 0) {
        // 8.2.1.1: the lsb wraps; the msb follows the previous reference picture.
        // A stream entered at another picture counts from that one's lsb.
        if (Slice.Idr() || !m_PocKnown) {
            m_PrevPocMsb = 0;
            m_PrevPocLsb = Slice.Idr() ? 0 : Slice.PicOrderCntLsb;
            m_PocKnown = true;
        }
        const std::int64_t MaxLsb = std::int64_t{1} << Sps.Log2MaxPicOrderCntLsb;
        const std::int64_t Lsb = Slice.PicOrderCntLsb, PrevLsb = m_PrevPocLsb;
        std::int64_t Msb = m_PrevPocMsb;
        if (Lsb < PrevLsb && PrevLsb - Lsb >= MaxLsb / 2)
            Msb += MaxLsb;
        else if (Lsb > PrevLsb && Lsb - PrevLsb > MaxLsb / 2)
            Msb -= MaxLsb;
        if (Slice.NalRefIdc != 0) {
            m_PrevPocMsb = Msb;
            m_PrevPocLsb = Slice.PicOrderCntLsb;
        }
        const std::int64_t Top = Msb + Lsb;
        return Slice.FieldPic ? Top : std::min(Top, Top + Slice.DeltaPicOrderCntBottom);
    }
    if (Sps.PicOrderCntType == 2) {
        // 8.2.1.3: twice the frame number, one less for a non-reference picture.
        const std::int64_t MaxFrameNum = std::int64_t{1} << Sps.Log2MaxFrameNum;
        std::int64_t Offset = 0;
        if (!Slice.Idr())
            Offset = m_PrevFrameNumOffset + (m_PrevFrameNum > Slice.FrameNum ? MaxFrameNum : 0);
        m_PrevFrameNumOffset = Offset;
        m_PrevFrameNum = Slice.FrameNum;
        if (Slice.Idr())
            return 0;
        return 2 * (Offset + Slice.FrameNum) - (Slice.NalRefIdc == 0 ? 1 : 0);
    }
    return std::nullopt;
}

void TH264UnitSplitter::CloseUnit()
{
    TH264Unit& Unit = *m_Unit;
    Unit.Fields = Unit.Field ? 1 : 2;
    const TSequenceParameterSet* Sps = Unit.Decodable ? m_Sets.Sps(Unit.SpsId) : nullptr;
    if (Sps && !m_Timing.empty()) {
        Unit.Timing = ParsePicTiming(m_Timing, *Sps);
        if (Unit.Timing && Unit.Timing->PicStruct)
            Unit.Fields = PicStructFields(*Unit.Timing->PicStruct).value_or(Unit.Fields);
    }
    m_Units.push_back(std::move(Unit));
    m_Unit.reset();
    m_HasPicture = false;
    m_LastSlice.reset();
    m_Timing.clear();
}

std::size_t LeadingPictures(std::span<const TH264Unit> Units)
{
    if (Units.empty() || !Units.front().PicOrderCnt)
        return 0;
    const std::int64_t First = *Units.front().PicOrderCnt;
    std::size_t Count = 0;
    for (const TH264Unit& Unit : Units.subspan(1)) {
        if (Unit.Idr)
            break;
        Count += Unit.PicOrderCnt && *Unit.PicOrderCnt < First;
    }
    return Count;
}

} // namespace vantrel
