// H.264 video (ISO/IEC 14496-10) as far as a probe and a join need it: the
// NAL units of a byte stream (Annex B), their payloads without emulation
// prevention bytes, the sequence and picture parameter sets and the first
// fields of a slice header. What camcorders (AVCHD) and HD broadcasts carry
// in transport streams.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantrel {

// nal_unit_type (Table 7-1), the ones the join tells apart.
enum TNalType : std::uint8_t
{
    ntSlice = 1,           // a slice of a non-IDR picture
    ntSlicePartitionA = 2, // data partitioning: A holds the slice header
    ntSlicePartitionC = 4,
    ntIdrSlice = 5,
    ntSEI = 6,
    ntSPS = 7,
    ntPPS = 8,
    ntAccessUnitDelimiter = 9,
    ntEndOfSequence = 10,
    ntEndOfStream = 11,
    ntFiller = 12,
    ntPrefix = 14,
};

// The header byte after a start code: forbidden_zero_bit, nal_ref_idc (2
// bits), nal_unit_type (5 bits).
constexpr std::uint8_t NalType(std::uint8_t Header)
{
    return Header & 0x1F;
}
constexpr std::uint8_t NalRefIdc(std::uint8_t Header)
{
    return (Header >> 5) & 0x03;
}
// The NAL units that begin with a slice header.
constexpr bool HasSliceHeader(std::uint8_t Type)
{
    return Type == ntSlice || Type == ntSlicePartitionA || Type == ntIdrSlice;
}
// The coded slices of a primary picture and their partitions (types 1 to 5).
constexpr bool IsVclNal(std::uint8_t Type)
{
    return Type >= ntSlice && Type <= ntIdrSlice;
}
// The NAL units that open a new access unit when they follow a picture's
// slices (7.4.1.2.3): SEI, parameter sets, a delimiter, and types 15 to 18.
// A prefix (14, of multiview streams) stands before each slice of the base
// view: it opens one only where its slice begins another picture.
constexpr bool OpensAccessUnit(std::uint8_t Type)
{
    return (Type >= ntSEI && Type <= ntAccessUnitDelimiter) || (Type > ntPrefix && Type <= 18);
}

// A NAL unit's bytes without the emulation prevention bytes: in the stream
// every 00 00 that a byte of 00 to 03 follows has an 03 put in between.
struct TRbsp
{
    std::vector<std::uint8_t> Bytes;
    // Where each 03 that was taken out stood in the NAL unit's bytes.
    std::vector<std::size_t> Removed;
    // Where the byte at Index of Bytes stands in the NAL unit's bytes.
    std::size_t NalOffset(std::size_t Index) const;
};
TRbsp UnescapeNal(std::span<const std::uint8_t> Nal);

// Where a flag's bit stands in a NAL unit's bytes, so that it can be set
// there without rewriting the unit. Settable is false where setting it would
// change which bytes a decoder takes for emulation prevention: the byte is
// one of two zeros before an 03, or follows an 03 and would grow past 03.
struct TFlagPosition
{
    std::int64_t Byte = 0;
    std::uint8_t Mask = 0;
    bool Settable = false;
};
// Bit: the flag's bit in Rbsp.Bytes, counted from the first bit; Nal: the
// unit's own bytes, as UnescapeNal read them.
TFlagPosition FlagPosition(const TRbsp& Rbsp, std::span<const std::uint8_t> Nal, std::size_t Bit);

// The HRD's first schedule (E.1.2): bits per second and the coded-picture
// buffer's size in bits.
struct THrdParameters
{
    std::uint64_t BitRate = 0;
    std::uint64_t CpbSize = 0;
    bool ConstantBitRate = false;
    std::uint8_t Schedules = 0; // cpb_cnt_minus1 + 1
};

// The fields of a sequence parameter set (7.3.2.1.1) and its VUI (E.1.1)
// that describe the picture and its timing, and those a slice header needs.
struct TSequenceParameterSet
{
    std::uint8_t ProfileIdc = 0;
    std::uint8_t Constraints = 0; // constraint_set0_flag in bit 7 ... set5 in bit 2
    std::uint8_t LevelIdc = 0;
    std::uint8_t Id = 0;
    std::uint8_t ChromaFormat = 1; // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
    bool SeparateColourPlanes = false;
    std::uint8_t BitDepthLuma = 8, BitDepthChroma = 8;
    std::uint8_t Log2MaxFrameNum = 4;
    std::uint8_t PicOrderCntType = 0;
    std::uint8_t Log2MaxPicOrderCntLsb = 4; // type 0
    bool DeltaPicOrderAlwaysZero = false;   // type 1
    std::uint32_t MaxRefFrames = 0;
    std::uint32_t WidthInMbs = 0;
    std::uint32_t HeightInMapUnits = 0; // a frame's height in macroblocks, or a field's
    bool FrameMbsOnly = true;           // false: fields or MBAFF may be coded
    bool Mbaff = false;                 // mb_adaptive_frame_field_flag
    // The picture's size after frame cropping, in luma samples.
    std::uint32_t Width = 0, Height = 0;
    // VUI: the sample aspect ratio (0:0 when unspecified), the clock.
    std::uint16_t SarWidth = 0, SarHeight = 0;
    std::uint32_t NumUnitsInTick = 0, TimeScale = 0; // both 0 without timing information
    bool FixedFrameRate = false;
    std::optional<THrdParameters> NalHrd, VclHrd;
    // The lengths of pic_timing's fields, when an HRD is present.
    std::uint8_t CpbRemovalDelayLength = 24, DpbOutputDelayLength = 24, TimeOffsetLength = 24;
    bool PicStructPresent = false;
    std::optional<std::uint32_t> MaxDecFrameBuffering; // bitstream restriction

    bool Interlaced() const { return !FrameMbsOnly; }
    bool Constraint(int Set) const { return (Constraints >> (7 - Set)) & 1; }
    // Frames per second by the timing information (a tick is a field):
    // time_scale / (2 num_units_in_tick); 0 without it.
    double FrameRate() const;
};
// Rbsp: the NAL unit's bytes without emulation prevention, from its header
// byte. Nothing when it is no sequence parameter set, is cut short or holds
// values out of the standard's range.
std::optional<TSequenceParameterSet> ParseSequenceParameterSet(std::span<const std::uint8_t> Rbsp);

// The first sequence parameter set in a stretch of byte stream that parses
// whole (one cut by the stretch's end may not); nothing when there is none.
std::optional<TSequenceParameterSet> FindSequenceParameterSet(std::span<const std::uint8_t> Data);

// The fields of a picture parameter set (7.3.2.2) that a slice header's
// first fields depend on.
struct TPictureParameterSet
{
    std::uint8_t Id = 0;
    std::uint8_t SpsId = 0;
    bool EntropyCodingMode = false; // CABAC
    bool BottomFieldPicOrderInFramePresent = false;
    std::uint32_t SliceGroups = 1;
    bool RedundantPicCntPresent = false;
};
std::optional<TPictureParameterSet> ParsePictureParameterSet(std::span<const std::uint8_t> Rbsp);

// The parameter sets of a stream as they arrive; a later set of an id
// replaces the earlier.
class TParameterSets
{
public:
    // Rbsp: a sequence or picture parameter set's unit; false when it does
    // not parse (the set before it of that id stays).
    bool Add(std::span<const std::uint8_t> Rbsp);
    const TSequenceParameterSet* Sps(std::uint8_t Id) const
    {
        return Id < 32 && m_Sps[Id] ? &*m_Sps[Id] : nullptr;
    }
    const TPictureParameterSet* Pps(std::uint8_t Id) const { return m_Pps[Id] ? &*m_Pps[Id] : nullptr; }
    // The sequence parameter set a picture parameter set names, if both are here.
    const TSequenceParameterSet* SpsOf(std::uint8_t PpsId) const;

private:
    std::array<std::optional<TSequenceParameterSet>, 32> m_Sps;
    std::array<std::optional<TPictureParameterSet>, 256> m_Pps;
};

// slice_type % 5 (Table 7-6).
enum TSliceKind : std::uint8_t
{
    skP,
    skB,
    skI,
    skSP,
    skSI
};

// A slice header up to the fields that tell one picture from the next
// (7.3.3, 7.4.1.2.4).
struct TSliceHeader
{
    std::uint8_t NalType = 0, NalRefIdc = 0;
    std::uint32_t FirstMb = 0;
    std::uint8_t SliceType = 0; // 0 to 9; 5 and up: every slice of the picture has this kind
    std::uint8_t PpsId = 0;
    std::uint8_t ColourPlane = 0;
    std::uint32_t FrameNum = 0;
    bool FieldPic = false, BottomField = false;
    std::uint32_t IdrPicId = 0;
    std::uint32_t PicOrderCntLsb = 0;
    std::int32_t DeltaPicOrderCntBottom = 0;
    std::array<std::int32_t, 2> DeltaPicOrderCnt = {0, 0};
    std::uint32_t RedundantPicCnt = 0;

    TSliceKind Kind() const { return static_cast<TSliceKind>(SliceType % 5); }
    bool Idr() const { return NalType == ntIdrSlice; }
};
// Rbsp: a slice's unit from its header byte (types 1, 2 and 5); Sets: the
// parameter sets so far. Nothing when it is cut short, its fields are out
// of range or its picture parameter set (or that one's sequence parameter
// set) has not come.
std::optional<TSliceHeader> ParseSliceHeader(std::span<const std::uint8_t> Rbsp, const TParameterSets& Sets);
// True when Next is the first slice of another primary picture than
// Previous (7.4.1.2.4); Sps: the sequence parameter set of both.
bool StartsNewPicture(const TSliceHeader& Previous, const TSliceHeader& Next,
                      const TSequenceParameterSet& Sps);

// Texts for people, in the names of Annex A: "High", "Constrained
// Baseline", "High 10 Intra"; "profile 99" for one it does not name.
std::string H264ProfileName(const TSequenceParameterSet& Sps);
// "4.0", "4.1", "1b".
std::string H264LevelName(const TSequenceParameterSet& Sps);
// "1920 x 1080i H.264 High@4.0", "1280 x 720p H.264 Main@3.1": the size
// after cropping, i for a sequence that may code fields, the profile and
// level.
std::string H264VideoText(const TSequenceParameterSet& Sps);

} // namespace vantrel
