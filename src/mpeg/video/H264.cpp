#include "mpeg/video/H264.h"

#include "io/SysUtils.h"
#include "mpeg/BitReader.h"
#include "mpeg/StartCodes.h"

#include <algorithm>

namespace vantrel {

TRbsp UnescapeNal(std::span<const std::uint8_t> Nal)
{
    TRbsp Rbsp;
    Rbsp.Bytes.reserve(Nal.size());
    int Zeros = 0;
    for (std::size_t I = 0; I < Nal.size(); ++I) {
        const std::uint8_t Byte = Nal[I];
        if (Zeros >= 2 && Byte == 3) {
            Rbsp.Removed.push_back(I);
            Zeros = 0;
            continue;
        }
        Rbsp.Bytes.push_back(Byte);
        Zeros = Byte == 0 ? Zeros + 1 : 0;
    }
    return Rbsp;
}

std::size_t TRbsp::NalOffset(std::size_t Index) const
{
    // Every 03 taken out at or before the byte moves it one on.
    std::size_t At = Index;
    for (const std::size_t R : Removed) {
        if (R > At)
            break;
        ++At;
    }
    return At;
}

TFlagPosition FlagPosition(const TRbsp& Rbsp, std::span<const std::uint8_t> Nal, std::size_t Bit)
{
    TFlagPosition Flag;
    const std::size_t At = Rbsp.NalOffset(Bit / 8);
    Flag.Byte = static_cast<std::int64_t>(At);
    Flag.Mask = static_cast<std::uint8_t>(0x80 >> (Bit % 8));
    if (At >= Nal.size())
        return Flag;
    const auto Removed = [&](std::size_t I) {
        return std::binary_search(Rbsp.Removed.begin(), Rbsp.Removed.end(), I);
    };
    const std::uint8_t Byte = Nal[At], Set = Byte | Flag.Mask;
    // A zero of 00 00 03 that turns non-zero would leave the 03 in the payload.
    const bool BeforeEscape = Byte == 0 && ((At + 2 < Nal.size() && Nal[At + 1] == 0 && Removed(At + 2)) ||
                                            (At >= 1 && Nal[At - 1] == 0 && Removed(At + 1)));
    // After 00 00 03 only 00 to 03 may follow.
    const bool AfterEscape = At >= 1 && Removed(At - 1) && Set > 3;
    Flag.Settable = Set == Byte || (!BeforeEscape && !AfterEscape);
    return Flag;
}

namespace {

// The profiles whose sequence parameter sets carry the chroma format, the
// bit depths and scaling matrices (7.3.2.1.1).
constexpr std::uint8_t ChromaInfoProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};

void SkipScalingList(TBitReader& Bits, int Size)
{
    // 7.3.2.1.1.1: deltas until one leaves the next scale at 0.
    int Last = 8, Next = 8;
    for (int J = 0; J < Size && Next != 0; ++J) {
        Next = (Last + Bits.SE() + 256) % 256;
        Last = Next == 0 ? Last : Next;
    }
}

// E.1.2; nothing for more schedules than the standard allows.
std::optional<THrdParameters> ReadHrd(TBitReader& Bits, TSequenceParameterSet& Sps)
{
    THrdParameters Hrd;
    const std::uint32_t Count = Bits.UE() + 1;
    if (Count > 32)
        return std::nullopt;
    Hrd.Schedules = static_cast<std::uint8_t>(Count);
    const int RateScale = static_cast<int>(Bits.Bits(4)), SizeScale = static_cast<int>(Bits.Bits(4));
    for (std::uint32_t I = 0; I < Count; ++I) {
        const std::uint64_t Rate = std::uint64_t{Bits.UE()} + 1, Size = std::uint64_t{Bits.UE()} + 1;
        const bool Cbr = Bits.Flag();
        if (I == 0) {
            Hrd.BitRate = Rate << (6 + RateScale);
            Hrd.CpbSize = Size << (4 + SizeScale);
            Hrd.ConstantBitRate = Cbr;
        }
    }
    Bits.Skip(5); // initial_cpb_removal_delay_length_minus1
    Sps.CpbRemovalDelayLength = static_cast<std::uint8_t>(Bits.Bits(5) + 1);
    Sps.DpbOutputDelayLength = static_cast<std::uint8_t>(Bits.Bits(5) + 1);
    Sps.TimeOffsetLength = static_cast<std::uint8_t>(Bits.Bits(5));
    return Hrd;
}

// E.1.1; false when it is cut short.
bool ReadVui(TBitReader& Bits, TSequenceParameterSet& Sps)
{
    // Table E-1, aspect_ratio_idc 1 to 16; 255 gives the ratio itself.
    static constexpr std::uint16_t Sar[16][2] = {{1, 1},    {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11},
                                                 {20, 11},  {32, 11}, {80, 33}, {18, 11}, {15, 11}, {64, 33},
                                                 {160, 99}, {4, 3},   {3, 2},   {2, 1}};
    if (Bits.Flag()) {
        const std::uint32_t Idc = Bits.Bits(8);
        if (Idc == 255) {
            Sps.SarWidth = static_cast<std::uint16_t>(Bits.Bits(16));
            Sps.SarHeight = static_cast<std::uint16_t>(Bits.Bits(16));
        } else if (Idc >= 1 && Idc <= 16) {
            Sps.SarWidth = Sar[Idc - 1][0];
            Sps.SarHeight = Sar[Idc - 1][1];
        }
    }
    if (Bits.Flag()) // overscan_info_present_flag
        Bits.Skip(1);
    if (Bits.Flag()) { // video_signal_type_present_flag: format, range, then colours
        Bits.Skip(4);
        if (Bits.Flag())
            Bits.Skip(24);
    }
    if (Bits.Flag()) { // chroma_loc_info_present_flag
        Bits.UE();
        Bits.UE();
    }
    if (Bits.Flag()) {
        Sps.NumUnitsInTick = Bits.Bits(32);
        Sps.TimeScale = Bits.Bits(32);
        Sps.FixedFrameRate = Bits.Flag();
    }
    for (std::optional<THrdParameters>* Hrd : {&Sps.NalHrd, &Sps.VclHrd})
        if (Bits.Flag() && !(*Hrd = ReadHrd(Bits, Sps)))
            return false;
    if (Sps.NalHrd || Sps.VclHrd)
        Bits.Skip(1); // low_delay_hrd_flag
    Sps.PicStructPresent = Bits.Flag();
    if (Bits.Flag()) { // bitstream_restriction_flag
        Bits.Skip(1);
        for (int I = 0; I < 5; ++I) // bytes and bits per picture, vector lengths, reorder frames
            Bits.UE();
        Sps.MaxDecFrameBuffering = Bits.UE();
    }
    return Bits.Ok();
}

// The size after cropping (7.4.2.1.1); false for a crop as large as the picture.
bool SetSize(TSequenceParameterSet& Sps, const std::array<std::uint32_t, 4>& Crop)
{
    const bool NoChromaPlanes = Sps.ChromaFormat == 0 || Sps.SeparateColourPlanes;
    const std::uint32_t SubWidth = NoChromaPlanes || Sps.ChromaFormat == 3 ? 1 : 2;
    const std::uint32_t SubHeight = NoChromaPlanes || Sps.ChromaFormat != 1 ? 1 : 2;
    const std::uint32_t Fields = Sps.FrameMbsOnly ? 1 : 2;
    const std::uint64_t Width = std::uint64_t{Sps.WidthInMbs} * 16;
    const std::uint64_t Height = std::uint64_t{Sps.HeightInMapUnits} * Fields * 16;
    const std::uint64_t CropX = (std::uint64_t{Crop[0]} + Crop[1]) * SubWidth;
    const std::uint64_t CropY = (std::uint64_t{Crop[2]} + Crop[3]) * SubHeight * Fields;
    if (CropX >= Width || CropY >= Height)
        return false;
    Sps.Width = static_cast<std::uint32_t>(Width - CropX);
    Sps.Height = static_cast<std::uint32_t>(Height - CropY);
    return true;
}

bool ReadChromaInfo(TBitReader& Bits, TSequenceParameterSet& Sps)
{
    const std::uint32_t Chroma = Bits.UE();
    if (Chroma > 3)
        return false;
    Sps.ChromaFormat = static_cast<std::uint8_t>(Chroma);
    if (Chroma == 3)
        Sps.SeparateColourPlanes = Bits.Flag();
    const std::uint32_t Luma = Bits.UE(), ChromaDepth = Bits.UE();
    if (Luma > 6 || ChromaDepth > 6)
        return false;
    Sps.BitDepthLuma = static_cast<std::uint8_t>(8 + Luma);
    Sps.BitDepthChroma = static_cast<std::uint8_t>(8 + ChromaDepth);
    Bits.Skip(1);    // qpprime_y_zero_transform_bypass_flag
    if (Bits.Flag()) // seq_scaling_matrix_present_flag
        for (int I = 0; I < (Chroma != 3 ? 8 : 12); ++I)
            if (Bits.Flag())
                SkipScalingList(Bits, I < 6 ? 16 : 64);
    return Bits.Ok();
}

bool ReadPicOrderCnt(TBitReader& Bits, TSequenceParameterSet& Sps)
{
    const std::uint32_t Type = Bits.UE();
    if (Type > 2)
        return false;
    Sps.PicOrderCntType = static_cast<std::uint8_t>(Type);
    if (Type == 0) {
        const std::uint32_t Lsb = Bits.UE();
        if (Lsb > 12)
            return false;
        Sps.Log2MaxPicOrderCntLsb = static_cast<std::uint8_t>(Lsb + 4);
    } else if (Type == 1) {
        Sps.DeltaPicOrderAlwaysZero = Bits.Flag();
        Bits.SE(); // offset_for_non_ref_pic
        Bits.SE(); // offset_for_top_to_bottom_field
        const std::uint32_t Cycle = Bits.UE();
        if (Cycle > 255)
            return false;
        for (std::uint32_t I = 0; I < Cycle && Bits.Ok(); ++I)
            Bits.SE();
    }
    return Bits.Ok();
}

} // namespace

double TSequenceParameterSet::FrameRate() const
{
    return NumUnitsInTick && TimeScale ? TimeScale / (2.0 * NumUnitsInTick) : 0;
}

std::optional<TSequenceParameterSet> ParseSequenceParameterSet(std::span<const std::uint8_t> Rbsp)
{
    if (Rbsp.size() < 4 || NalType(Rbsp[0]) != ntSPS)
        return std::nullopt;
    TSequenceParameterSet Sps;
    Sps.ProfileIdc = Rbsp[1];
    Sps.Constraints = Rbsp[2];
    Sps.LevelIdc = Rbsp[3];
    TBitReader Bits(Rbsp, 32);
    const std::uint32_t Id = Bits.UE();
    const bool ChromaInfo =
        std::ranges::find(ChromaInfoProfiles, Sps.ProfileIdc) != std::end(ChromaInfoProfiles);
    if (Id > 31 || (ChromaInfo && !ReadChromaInfo(Bits, Sps)))
        return std::nullopt;
    Sps.Id = static_cast<std::uint8_t>(Id);
    const std::uint32_t FrameNum = Bits.UE();
    if (FrameNum > 12 || !ReadPicOrderCnt(Bits, Sps))
        return std::nullopt;
    Sps.Log2MaxFrameNum = static_cast<std::uint8_t>(FrameNum + 4);
    Sps.MaxRefFrames = Bits.UE();
    Bits.Skip(1); // gaps_in_frame_num_value_allowed_flag
    Sps.WidthInMbs = Bits.UE() + 1;
    Sps.HeightInMapUnits = Bits.UE() + 1;
    Sps.FrameMbsOnly = Bits.Flag();
    if (!Sps.FrameMbsOnly)
        Sps.Mbaff = Bits.Flag();
    Bits.Skip(1);                                     // direct_8x8_inference_flag
    std::array<std::uint32_t, 4> Crop = {0, 0, 0, 0}; // left, right, top, bottom
    if (Bits.Flag())
        for (std::uint32_t& Offset : Crop)
            Offset = Bits.UE();
    // Sizes past 16384 samples are no level's: they would only be a damaged set.
    constexpr std::uint32_t MaxMbs = 1024;
    if (!Bits.Ok() || Sps.WidthInMbs > MaxMbs || Sps.HeightInMapUnits > MaxMbs || !SetSize(Sps, Crop))
        return std::nullopt;
    // A VUI cut short (some encoders write one) leaves the picture as it is.
    if (Bits.Flag()) {
        TSequenceParameterSet WithVui = Sps;
        if (ReadVui(Bits, WithVui))
            Sps = WithVui;
    }
    return Sps;
}

std::optional<TSequenceParameterSet> FindSequenceParameterSet(std::span<const std::uint8_t> Data)
{
    std::optional<TSequenceParameterSet> Found;
    std::optional<std::size_t> From; // the header byte of the last NAL unit seen
    const auto Try = [&](std::size_t End) {
        if (From && NalType(Data[*From]) == ntSPS)
            Found = ParseSequenceParameterSet(UnescapeNal(Data.subspan(*From, End - *From)).Bytes);
        return Found.has_value();
    };
    TStartCodeScan Scan;
    ForEachStartCode(Data.data(), Data.size(), Scan, [&](std::size_t I) {
        if (Try(I - 3))
            return true;
        From = I;
        return false;
    });
    if (!Found)
        Try(Data.size());
    return Found;
}

std::optional<TPictureParameterSet> ParsePictureParameterSet(std::span<const std::uint8_t> Rbsp)
{
    if (Rbsp.empty() || NalType(Rbsp[0]) != ntPPS)
        return std::nullopt;
    TBitReader Bits(Rbsp, 8);
    TPictureParameterSet Pps;
    const std::uint32_t Id = Bits.UE(), SpsId = Bits.UE();
    Pps.EntropyCodingMode = Bits.Flag();
    Pps.BottomFieldPicOrderInFramePresent = Bits.Flag();
    Pps.SliceGroups = Bits.UE() + 1;
    if (Id > 255 || SpsId > 31 || Pps.SliceGroups > 8)
        return std::nullopt;
    Pps.Id = static_cast<std::uint8_t>(Id);
    Pps.SpsId = static_cast<std::uint8_t>(SpsId);
    if (Pps.SliceGroups > 1) {
        const std::uint32_t MapType = Bits.UE();
        if (MapType == 0) {
            for (std::uint32_t I = 0; I < Pps.SliceGroups; ++I)
                Bits.UE(); // run_length_minus1
        } else if (MapType == 2) {
            for (std::uint32_t I = 0; I + 1 < Pps.SliceGroups; ++I) {
                Bits.UE(); // top_left
                Bits.UE(); // bottom_right
            }
        } else if (MapType >= 3 && MapType <= 5) {
            Bits.Skip(1); // slice_group_change_direction_flag
            Bits.UE();    // slice_group_change_rate_minus1
        } else if (MapType == 6) {
            const std::uint64_t Units = std::uint64_t{Bits.UE()} + 1;
            int IdBits = 0; // Ceil(Log2(SliceGroups))
            while ((1u << IdBits) < Pps.SliceGroups)
                ++IdBits;
            Bits.Skip(static_cast<std::size_t>(Units * IdBits));
        } else if (MapType > 6) {
            return std::nullopt;
        }
    }
    Bits.UE();    // num_ref_idx_l0_default_active_minus1
    Bits.UE();    // and l1
    Bits.Skip(3); // weighted_pred_flag, weighted_bipred_idc
    Bits.SE();    // pic_init_qp_minus26
    Bits.SE();    // pic_init_qs_minus26
    Bits.SE();    // chroma_qp_index_offset
    Bits.Skip(2); // deblocking_filter_control_present_flag, constrained_intra_pred_flag
    Pps.RedundantPicCntPresent = Bits.Flag();
    if (!Bits.Ok())
        return std::nullopt;
    return Pps;
}

bool TParameterSets::Add(std::span<const std::uint8_t> Rbsp)
{
    if (Rbsp.empty())
        return false;
    if (NalType(Rbsp[0]) == ntSPS) {
        const auto Sps = ParseSequenceParameterSet(Rbsp);
        if (Sps)
            m_Sps[Sps->Id] = Sps;
        return Sps.has_value();
    }
    const auto Pps = ParsePictureParameterSet(Rbsp);
    if (Pps)
        m_Pps[Pps->Id] = Pps;
    return Pps.has_value();
}

const TSequenceParameterSet* TParameterSets::SpsOf(std::uint8_t PpsId) const
{
    const TPictureParameterSet* Pps = this->Pps(PpsId);
    return Pps ? Sps(Pps->SpsId) : nullptr;
}

std::optional<TSliceHeader> ParseSliceHeader(std::span<const std::uint8_t> Rbsp, const TParameterSets& Sets)
{
    if (Rbsp.empty() || !HasSliceHeader(NalType(Rbsp[0])))
        return std::nullopt;
    TSliceHeader Slice;
    Slice.NalType = NalType(Rbsp[0]);
    Slice.NalRefIdc = NalRefIdc(Rbsp[0]);
    TBitReader Bits(Rbsp, 8);
    Slice.FirstMb = Bits.UE();
    const std::uint32_t Type = Bits.UE(), PpsId = Bits.UE();
    if (!Bits.Ok() || Type > 9 || PpsId > 255)
        return std::nullopt;
    Slice.SliceType = static_cast<std::uint8_t>(Type);
    Slice.PpsId = static_cast<std::uint8_t>(PpsId);
    const TPictureParameterSet* Pps = Sets.Pps(Slice.PpsId);
    const TSequenceParameterSet* Sps = Sets.SpsOf(Slice.PpsId);
    if (!Pps || !Sps)
        return std::nullopt;
    if (Sps->SeparateColourPlanes)
        Slice.ColourPlane = static_cast<std::uint8_t>(Bits.Bits(2));
    Slice.FrameNum = Bits.Bits(Sps->Log2MaxFrameNum);
    if (!Sps->FrameMbsOnly) {
        Slice.FieldPic = Bits.Flag();
        if (Slice.FieldPic)
            Slice.BottomField = Bits.Flag();
    }
    if (Slice.Idr())
        Slice.IdrPicId = Bits.UE();
    const bool Bottom = Pps->BottomFieldPicOrderInFramePresent && !Slice.FieldPic;
    if (Sps->PicOrderCntType == 0) {
        Slice.PicOrderCntLsb = Bits.Bits(Sps->Log2MaxPicOrderCntLsb);
        if (Bottom)
            Slice.DeltaPicOrderCntBottom = Bits.SE();
    } else if (Sps->PicOrderCntType == 1 && !Sps->DeltaPicOrderAlwaysZero) {
        Slice.DeltaPicOrderCnt[0] = Bits.SE();
        if (Bottom)
            Slice.DeltaPicOrderCnt[1] = Bits.SE();
    }
    if (Pps->RedundantPicCntPresent)
        Slice.RedundantPicCnt = Bits.UE();
    if (!Bits.Ok())
        return std::nullopt;
    return Slice;
}

bool StartsNewPicture(const TSliceHeader& Previous, const TSliceHeader& Next,
                      const TSequenceParameterSet& Sps)
{
    const TSliceHeader &A = Previous, &B = Next;
    if (A.FrameNum != B.FrameNum || A.PpsId != B.PpsId || A.FieldPic != B.FieldPic ||
        A.BottomField != B.BottomField || ((A.NalRefIdc == 0) != (B.NalRefIdc == 0)) || A.Idr() != B.Idr())
        return true;
    if (Sps.PicOrderCntType == 0 &&
        (A.PicOrderCntLsb != B.PicOrderCntLsb || A.DeltaPicOrderCntBottom != B.DeltaPicOrderCntBottom))
        return true;
    if (Sps.PicOrderCntType == 1 && A.DeltaPicOrderCnt != B.DeltaPicOrderCnt)
        return true;
    return A.Idr() && A.IdrPicId != B.IdrPicId;
}

std::string H264ProfileName(const TSequenceParameterSet& Sps)
{
    const bool Intra = Sps.Constraint(3);
    switch (Sps.ProfileIdc) {
    case 66: return Sps.Constraint(1) ? "Constrained Baseline" : "Baseline";
    case 77: return "Main";
    case 88: return "Extended";
    case 100: return "High";
    case 110: return Intra ? "High 10 Intra" : "High 10";
    case 122: return Intra ? "High 4:2:2 Intra" : "High 4:2:2";
    case 244: return Intra ? "High 4:4:4 Intra" : "High 4:4:4 Predictive";
    case 44: return "CAVLC 4:4:4 Intra";
    case 83: return "Scalable Baseline";
    case 86: return "Scalable High";
    case 118: return "Multiview High";
    case 128: return "Stereo High";
    default: return Format("profile %u", Sps.ProfileIdc);
    }
}

std::string H264LevelName(const TSequenceParameterSet& Sps)
{
    // Level 1b: level_idc 9, or 11 with constraint_set3_flag below High.
    const bool Below = Sps.ProfileIdc == 66 || Sps.ProfileIdc == 77 || Sps.ProfileIdc == 88;
    if (Sps.LevelIdc == 9 || (Sps.LevelIdc == 11 && Below && Sps.Constraint(3)))
        return "1b";
    return Format("%u.%u", Sps.LevelIdc / 10u, Sps.LevelIdc % 10u);
}

std::string H264VideoText(const TSequenceParameterSet& Sps)
{
    return Format("%u x %u%c H.264 %s@%s", Sps.Width, Sps.Height, Sps.Interlaced() ? 'i' : 'p',
                  H264ProfileName(Sps).c_str(), H264LevelName(Sps).c_str());
}

} // namespace vantrel
