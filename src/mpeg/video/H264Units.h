// Cuts an H.264 byte stream into access units (ISO/IEC 14496-10, 7.4.1.2.3)
// as its PES payloads come: a unit begins at a delimiter, an SEI, a
// parameter set (types 14 to 18 too) after a picture's slices, or at the
// first slice of another picture where none of those came between
// (7.4.1.2.4). Each unit says what a decoder model and a frame count need:
// where it starts, its packet's stamp, the kind of its picture, whether a
// decoder may begin there and how many fields it shows for.
#pragma once

#include "mpeg/StartCodes.h"
#include "mpeg/video/H264.h"
#include "mpeg/video/H264Sei.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantrel {

struct TH264Unit
{
    // Bytes into the stream: its first NAL unit's start code, with the zero
    // byte of a four-byte one.
    std::int64_t Start = 0;
    // The stamp of the packet in which its first NAL unit's header byte
    // stands, when it is the first unit to begin there.
    std::optional<std::int64_t> Stamp;
    // B when a slice is B, P when one is P (or SP) and none B, else I.
    TSliceKind Kind = skI;
    bool Idr = false;
    bool Reference = false; // nal_ref_idc is not 0: later pictures may refer to it
    bool Field = false, BottomField = false;
    // How long it shows: by its pic_timing's pic_struct where the sequence
    // has one, else 1 for a field and 2 for a frame.
    int Fields = 2;
    // False when its parameter sets had not come (a stream entered in the
    // middle): no decoder can show it, and only its kind and IDR flag are
    // known.
    bool Decodable = true;
    std::uint8_t SpsId = 0;
    std::uint32_t FrameNum = 0;
    // Display order (8.2.1) for pic_order_cnt_type 0 and 2, counted from the
    // stream's start or its last IDR picture; nothing for type 1. A memory
    // management operation 5 (rare) is not seen, so the order after one is
    // relative to what came before it.
    std::optional<std::int64_t> PicOrderCnt;
    // From its SEI; BrokenLink: where that flag's bit stands in the stream.
    std::optional<TRecoveryPoint> RecoveryPoint;
    TFlagPosition BrokenLink;
    std::optional<TPicTiming> Timing;
};

class TH264UnitSplitter
{
public:
    // Payload: the stream's next bytes; Stamp: the PES packet's, when this
    // is a packet's payload that has one.
    void Add(const std::uint8_t* Payload, std::size_t Length,
             std::optional<std::int64_t> Stamp = std::nullopt);
    // The stream has ended: its last unit is complete.
    void Finish();
    // The complete units, in decode order.
    const std::vector<TH264Unit>& Units() const { return m_Units; }
    std::int64_t Bytes() const { return m_Bytes; }
    const TParameterSets& Sets() const { return m_Sets; }

private:
    void EndNal(std::int64_t End);
    void ProcessNal();
    // Where a NAL unit stands: its start code, its header byte.
    struct TNalPlace
    {
        std::int64_t Prefix, Header;
    };
    void OpenUnit(TNalPlace Place);
    void CloseUnit();
    void AddSlice(const TSliceHeader& Slice, bool Decodable);
    void ReadSei(const TRbsp& Rbsp);
    std::optional<std::int64_t> PicOrderCnt(const TSliceHeader& Slice, const TSequenceParameterSet& Sps);

    TParameterSets m_Sets;
    std::vector<TH264Unit> m_Units;
    std::int64_t m_Bytes = 0;
    TStartCodeScan m_Scan;
    std::uint32_t m_Last4 = 0xFFFFFFFF; // the stream's last four bytes before this payload

    // The NAL unit being read: its first bytes, from its header byte.
    std::vector<std::uint8_t> m_Nal;
    bool m_InNal = false;
    std::int64_t m_NalStart = 0;  // its header byte
    std::int64_t m_NalPrefix = 0; // its start code
    std::size_t m_NalCap = 0;

    // The unit being read.
    std::optional<TH264Unit> m_Unit;
    bool m_HasPicture = false;
    std::optional<TSliceHeader> m_LastSlice; // of its primary picture
    std::vector<std::uint8_t> m_Timing;      // its pic_timing payload, read once its sequence is known
    std::optional<TNalPlace> m_Prefix;       // a prefix after its slices, until the next slice tells

    // The state of 8.2.1 from the pictures before.
    bool m_PocKnown = false;
    std::int64_t m_PrevPocMsb = 0;
    std::uint32_t m_PrevPocLsb = 0;
    std::int64_t m_PrevFrameNumOffset = 0;
    std::uint32_t m_PrevFrameNum = 0;

    // The stamped packets whose stamps no unit has taken yet.
    struct TStampedPacket
    {
        std::int64_t Start, End;
        std::int64_t Stamp;
        bool Holds(std::int64_t At) const { return At >= Start && At < End; }
    };
    std::vector<TStampedPacket> m_Stamps;
};

// The pictures after the first of Units, up to the next IDR picture, that
// show before it. Where a stream begins with a recovery point's I picture
// (an open GOP), those refer to pictures before it that are not there: a
// decoder cannot show them.
std::size_t LeadingPictures(std::span<const TH264Unit> Units);

} // namespace vantrel
