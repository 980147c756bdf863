// H.264 syntax against an independent reading of the same bits: ffmpeg's
// trace_headers filter prints every syntax element of every NAL unit with
// its bit position, and ffprobe says what the stream is.
#include "mpeg/video/H264.h"
#include "mpeg/BitReader.h"
#include "mpeg/StartCodes.h"
#include "mpeg/video/H264Levels.h"
#include "mpeg/video/H264Sei.h"
#include "mpeg/video/H264Units.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace vantrel {
namespace {

using namespace test;

struct TTraceField
{
    std::int64_t Value;
    std::int64_t Bit; // from the unit's header byte, without emulation prevention
};
using TTraceNal = std::map<std::string, TTraceField>;

// Every NAL unit of File but filler data as ffmpeg reads it, in stream
// order. A field's line: "[trace_headers @ 0x...] 26   broken_link_flag   0 = 0".
std::vector<TTraceNal> TraceNals(const std::string& File)
{
    std::string Output;
    RunCommand("ffmpeg -nostdin -nostats -hide_banner -i " + Quote(File) +
                   " -map 0:v -c copy -bsf:v filter_units=remove_types=12,trace_headers -f null -",
               &Output);
    std::vector<TTraceNal> Nals;
    std::istringstream Lines(Output);
    bool Packets = false; // the parameter sets come first as extradata, then again in the stream
    for (std::string Line; std::getline(Lines, Line);) {
        Packets = Packets || Line.find("] Packet: ") != std::string::npos;
        const std::size_t Tag = Line.find("[trace_headers @ ");
        const std::size_t Equals = Line.rfind(" = ");
        if (!Packets || Tag == std::string::npos || Equals == std::string::npos)
            continue;
        std::istringstream Fields(Line.substr(Line.find("] ", Tag) + 2));
        std::int64_t Bit;
        std::string Name;
        if (!(Fields >> Bit >> Name))
            continue;
        if (Name == "forbidden_zero_bit")
            Nals.emplace_back();
        if (!Nals.empty())
            Nals.back()[Name] = {std::stoll(Line.substr(Equals + 3)), Bit};
    }
    return Nals;
}

std::int64_t Get(const TTraceNal& Nal, const std::string& Name, std::int64_t Absent = 0)
{
    const auto Found = Nal.find(Name);
    return Found == Nal.end() ? Absent : Found->second.Value;
}

// The NAL units of a byte stream but filler data, each from its header byte
// to its last non-zero byte.
std::vector<std::span<const std::uint8_t>> NalUnits(const TBytes& Data)
{
    std::vector<std::size_t> Starts;
    TStartCodeScan Scan;
    ForEachStartCode(Data.data(), Data.size(), Scan, [&](std::size_t I) {
        Starts.push_back(I);
        return false;
    });
    std::vector<std::span<const std::uint8_t>> Nals;
    for (std::size_t I = 0; I < Starts.size(); ++I) {
        std::size_t End = I + 1 < Starts.size() ? Starts[I + 1] - 3 : Data.size();
        while (End > Starts[I] && Data[End - 1] == 0)
            --End;
        if (NalType(Data[Starts[I]]) != ntFiller)
            Nals.push_back(std::span(Data).subspan(Starts[I], End - Starts[I]));
    }
    return Nals;
}

void ExpectSps(const TSequenceParameterSet& S, const TTraceNal& T)
{
    EXPECT_EQ(S.ProfileIdc, Get(T, "profile_idc"));
    EXPECT_EQ(S.LevelIdc, Get(T, "level_idc"));
    EXPECT_EQ(S.Constraint(1), Get(T, "constraint_set1_flag"));
    EXPECT_EQ(S.Log2MaxFrameNum, Get(T, "log2_max_frame_num_minus4") + 4);
    EXPECT_EQ(S.PicOrderCntType, Get(T, "pic_order_cnt_type"));
    if (S.PicOrderCntType == 0) {
        EXPECT_EQ(S.Log2MaxPicOrderCntLsb, Get(T, "log2_max_pic_order_cnt_lsb_minus4") + 4);
    }
    EXPECT_EQ(S.WidthInMbs, Get(T, "pic_width_in_mbs_minus1") + 1);
    EXPECT_EQ(S.HeightInMapUnits, Get(T, "pic_height_in_map_units_minus1") + 1);
    EXPECT_EQ(S.FrameMbsOnly, Get(T, "frame_mbs_only_flag"));
    EXPECT_EQ(S.Mbaff, Get(T, "mb_adaptive_frame_field_flag"));
    EXPECT_EQ(S.NumUnitsInTick, Get(T, "num_units_in_tick"));
    EXPECT_EQ(S.TimeScale, Get(T, "time_scale"));
    EXPECT_EQ(S.FixedFrameRate, Get(T, "fixed_frame_rate_flag"));
    EXPECT_EQ(S.PicStructPresent, Get(T, "pic_struct_present_flag"));
    EXPECT_EQ(S.MaxDecFrameBuffering.value_or(99), Get(T, "max_dec_frame_buffering", 99));
    ASSERT_EQ(S.NalHrd.has_value(), Get(T, "nal_hrd_parameters_present_flag") == 1);
    if (S.NalHrd) {
        EXPECT_EQ(S.NalHrd->CpbSize, (Get(T, "cpb_size_value_minus1[0]") + 1)
                                         << (4 + Get(T, "cpb_size_scale")));
        EXPECT_EQ(S.NalHrd->BitRate, (Get(T, "bit_rate_value_minus1[0]") + 1)
                                         << (6 + Get(T, "bit_rate_scale")));
        EXPECT_EQ(S.NalHrd->ConstantBitRate, Get(T, "cbr_flag[0]"));
        EXPECT_EQ(S.CpbRemovalDelayLength, Get(T, "cpb_removal_delay_length_minus1") + 1);
        EXPECT_EQ(S.DpbOutputDelayLength, Get(T, "dpb_output_delay_length_minus1") + 1);
    }
}

void ExpectSlice(const TSliceHeader& S, const TTraceNal& T)
{
    EXPECT_EQ(S.FirstMb, Get(T, "first_mb_in_slice"));
    EXPECT_EQ(S.SliceType, Get(T, "slice_type"));
    EXPECT_EQ(S.PpsId, Get(T, "pic_parameter_set_id"));
    EXPECT_EQ(S.FrameNum, Get(T, "frame_num"));
    EXPECT_EQ(S.FieldPic, Get(T, "field_pic_flag"));
    EXPECT_EQ(S.BottomField, Get(T, "bottom_field_flag"));
    EXPECT_EQ(S.IdrPicId, Get(T, "idr_pic_id"));
    EXPECT_EQ(S.PicOrderCntLsb, Get(T, "pic_order_cnt_lsb"));
    EXPECT_EQ(S.DeltaPicOrderCntBottom, Get(T, "delta_pic_order_cnt_bottom"));
}

// Counts what was compared, so that a stream without them cannot pass unseen.
struct TSeen
{
    int Slices = 0, RecoveryPoints = 0, PicStructs = 0;
};

void ExpectSei(const TRbsp& Rbsp, const TTraceNal& T, const TParameterSets& Sets, TSeen& Seen)
{
    for (const TSeiMessage& Message : SeiMessages(Rbsp.Bytes)) {
        const auto Payload = std::span(Rbsp.Bytes).subspan(Message.Offset, Message.Size);
        if (Message.Type == SeiRecoveryPoint) {
            const auto Point = ParseRecoveryPoint(Payload);
            ASSERT_TRUE(Point);
            EXPECT_EQ(Point->RecoveryFrameCnt, Get(T, "recovery_frame_cnt"));
            EXPECT_EQ(Point->ExactMatch, Get(T, "exact_match_flag"));
            EXPECT_EQ(Point->BrokenLink, Get(T, "broken_link_flag"));
            ASSERT_TRUE(T.count("broken_link_flag"));
            EXPECT_EQ(Message.Offset * 8 + Point->BrokenLinkBit, T.at("broken_link_flag").Bit);
            ++Seen.RecoveryPoints;
        } else if (Message.Type == SeiPicTiming) {
            const auto Timing = ParsePicTiming(Payload, *Sets.Sps(0));
            ASSERT_TRUE(Timing);
            EXPECT_EQ(Timing->PicStruct.value_or(99), Get(T, "pic_struct", 99));
            EXPECT_EQ(Timing->CpbRemovalDelay.value_or(99), Get(T, "cpb_removal_delay", 99));
            EXPECT_EQ(Timing->DpbOutputDelay.value_or(99), Get(T, "dpb_output_delay", 99));
            Seen.PicStructs += Timing->PicStruct.has_value();
        }
    }
}

struct StreamCase
{
    const char* Name;
    int RecoveryPoints, PicStructs;
    const char* Text;
};
void PrintTo(const StreamCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class H264Stream : public ::testing::TestWithParam<StreamCase>
{
};

// Every parameter set, slice header and SEI message field the join reads,
// at the bit where ffmpeg finds it.
TEST_P(H264Stream, ReadsEveryUnitAsFfmpegDoes)
{
    const std::string File = Stream(GetParam().Name);
    const TBytes Data = ReadFile(File);
    const auto Nals = NalUnits(Data);
    const auto Trace = TraceNals(File);
    ASSERT_EQ(Nals.size(), Trace.size());
    TParameterSets Sets;
    TSeen Seen;
    for (std::size_t I = 0; I < Nals.size(); ++I) {
        SCOPED_TRACE("NAL unit " + std::to_string(I));
        const TTraceNal& T = Trace[I];
        const std::uint8_t Type = NalType(Nals[I][0]);
        ASSERT_EQ(Type, Get(T, "nal_unit_type"));
        EXPECT_EQ(NalRefIdc(Nals[I][0]), Get(T, "nal_ref_idc"));
        const TRbsp Rbsp = UnescapeNal(Nals[I]);
        if (Type == ntSPS) {
            ASSERT_TRUE(Sets.Add(Rbsp.Bytes));
            ExpectSps(*ParseSequenceParameterSet(Rbsp.Bytes), T);
        } else if (Type == ntPPS) {
            ASSERT_TRUE(Sets.Add(Rbsp.Bytes));
            const auto Pps = ParsePictureParameterSet(Rbsp.Bytes);
            EXPECT_EQ(Pps->SpsId, Get(T, "seq_parameter_set_id"));
            EXPECT_EQ(Pps->EntropyCodingMode, Get(T, "entropy_coding_mode_flag"));
            EXPECT_EQ(Pps->BottomFieldPicOrderInFramePresent,
                      Get(T, "bottom_field_pic_order_in_frame_present_flag"));
            EXPECT_EQ(Pps->RedundantPicCntPresent, Get(T, "redundant_pic_cnt_present_flag"));
        } else if (HasSliceHeader(Type) && Sets.Pps(0)) {
            const auto Slice = ParseSliceHeader(Rbsp.Bytes, Sets);
            ASSERT_TRUE(Slice);
            ExpectSlice(*Slice, T);
            ++Seen.Slices;
        } else if (Type == ntSEI && Sets.Sps(0)) {
            ExpectSei(Rbsp, T, Sets, Seen);
        }
    }
    EXPECT_GT(Seen.Slices, 20);
    EXPECT_EQ(Seen.RecoveryPoints, GetParam().RecoveryPoints);
    EXPECT_EQ(Seen.PicStructs, GetParam().PicStructs);
}

// What the list will show, and what ffprobe says of the same stream.
TEST_P(H264Stream, DescribesTheStreamAsFfprobeDoes)
{
    const std::string File = Stream(GetParam().Name);
    const TBytes Data = ReadFile(File);
    const auto Sps = FindSequenceParameterSet(Data);
    ASSERT_TRUE(Sps);
    EXPECT_EQ(H264VideoText(*Sps), GetParam().Text);
    std::istringstream Facts(Ffprobe("-show_entries stream=profile,level,width,height,sample_aspect_ratio,"
                                     "field_order,r_frame_rate -of default=nw=1",
                                     File));
    std::map<std::string, std::string> Probe;
    for (std::string Line; std::getline(Facts, Line);)
        Probe[Line.substr(0, Line.find('='))] = Line.substr(Line.find('=') + 1);
    EXPECT_EQ(H264ProfileName(*Sps), Probe["profile"]);
    EXPECT_EQ(std::to_string(Sps->LevelIdc), Probe["level"]);
    EXPECT_EQ(std::to_string(Sps->Width), Probe["width"]);
    EXPECT_EQ(std::to_string(Sps->Height), Probe["height"]);
    EXPECT_EQ(std::to_string(Sps->SarWidth) + ":" + std::to_string(Sps->SarHeight),
              Probe["sample_aspect_ratio"]);
    EXPECT_EQ(Sps->Interlaced(), Probe["field_order"] != "progressive");
    const auto Slash = Probe["r_frame_rate"].find('/');
    EXPECT_DOUBLE_EQ(Sps->FrameRate(), std::stod(Probe["r_frame_rate"].substr(0, Slash)) /
                                           std::stod(Probe["r_frame_rate"].substr(Slash + 1)));
}

INSTANTIATE_TEST_SUITE_P(
    Libx264, H264Stream,
    ::testing::Values(StreamCase{"avchd_1080i50_1.h264", 0, 50, "1920 x 1080i H.264 High@4.0"},
                      StreamCase{"avchd_1080i50_2.h264", 0, 25, "1920 x 1080i H.264 High@4.0"},
                      StreamCase{"avchd_1080i60_1.h264", 0, 60, "1920 x 1080i H.264 High@4.0"},
                      StreamCase{"avchd_1080i60_2.h264", 0, 30, "1920 x 1080i H.264 High@4.0"},
                      StreamCase{"avchd_lpcm.h264", 0, 25, "1440 x 1080i H.264 High@4.0"},
                      StreamCase{"hd_720p50_1.h264", 0, 0, "1280 x 720p H.264 High@3.2"},
                      StreamCase{"hd_720p50_2.h264", 0, 0, "1280 x 720p H.264 High@3.2"},
                      StreamCase{"hd_720p50_open.h264", 3, 0, "1280 x 720p H.264 High@3.2"},
                      StreamCase{"hd_720p50_open_cut.h264", 3, 0, "1280 x 720p H.264 High@3.2"},
                      StreamCase{"hd_1080i25_1.h264", 0, 50, "1920 x 1080i H.264 High@4.0"},
                      StreamCase{"hd_1080i25_2.h264", 0, 25, "1920 x 1080i H.264 High@4.0"},
                      StreamCase{"hd_1080i25_open.h264", 1, 50, "1920 x 1080i H.264 High@4.0"},
                      StreamCase{"h264_baseline.h264", 0, 0, "320 x 180p H.264 Constrained Baseline@1.3"}),
    [](const auto& Info) {
        return std::string(Info.param.Name).substr(0, std::strlen(Info.param.Name) - 5);
    });

// The broken link flag set where the units say it stands: ffmpeg reads it
// set in every recovery point and still decodes every picture.
TEST(H264BrokenLink, SetsInPlaceWhereFfmpegReadsIt)
{
    TTempDir Dir;
    TBytes Data = ReadFile(Stream("hd_720p50_open_cut.h264"));
    TH264UnitSplitter Splitter;
    Splitter.Add(Data.data(), Data.size());
    Splitter.Finish();
    int Set = 0;
    for (const TH264Unit& Unit : Splitter.Units())
        if (Unit.RecoveryPoint) {
            ASSERT_TRUE(Unit.BrokenLink.Settable);
            EXPECT_FALSE(Unit.RecoveryPoint->BrokenLink);
            Data[static_cast<std::size_t>(Unit.BrokenLink.Byte)] |= Unit.BrokenLink.Mask;
            ++Set;
        }
    ASSERT_EQ(Set, 3);
    const std::string Patched = Dir.File("patched.h264");
    WriteFile(Patched, Data);
    int Read = 0;
    for (const TTraceNal& Nal : TraceNals(Patched))
        if (Nal.count("broken_link_flag")) {
            EXPECT_EQ(Get(Nal, "broken_link_flag"), 1);
            ++Read;
        }
    EXPECT_EQ(Read, Set);
    EXPECT_EQ(VideoFrames(Patched), VideoFrames(Stream("hd_720p50_open_cut.h264")));
}

TEST(BitReader, ReadsExpGolombCodes)
{
    // 9.1: 1 | 010 | 011 | 00100 | 00111 | 0001000, then se 010 (1) and 011 (-1).
    const TBytes Bits = {0b10100110, 0b01000011, 0b10001000, 0b01001100};
    TBitReader Reader(Bits);
    for (std::uint32_t Expected : {0u, 1u, 2u, 3u, 6u, 7u})
        EXPECT_EQ(Reader.UE(), Expected);
    EXPECT_EQ(Reader.SE(), 1);
    EXPECT_EQ(Reader.SE(), -1);
    EXPECT_TRUE(Reader.Ok());
    EXPECT_EQ(Reader.Position(), 30u);
    EXPECT_EQ(Reader.Bits(2), 0u);
    EXPECT_TRUE(Reader.Ok());
    EXPECT_EQ(Reader.Bits(1), 0u); // past the end
    EXPECT_FALSE(Reader.Ok());

    const TBytes Zeros = {0, 0, 0, 0, 0x80};
    TBitReader Long(Zeros); // 32 zeros: no code is that long
    Long.UE();
    EXPECT_FALSE(Long.Ok());
    const TBytes Largest = {0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE}; // 31 zeros, a one, 31 ones
    TBitReader Max(Largest);
    EXPECT_EQ(Max.UE(), 0xFFFFFFFEu);
    EXPECT_TRUE(Max.Ok());
}

TEST(H264Rbsp, MapsBytesBackAndSetsFlagsOnlyWhereEscapesStay)
{
    // 00 00 03 01: the 03 goes; 00 00 03 00 too, at the unit's end.
    const TBytes Nal = {0x06, 0x00, 0x00, 0x03, 0x01, 0x80, 0x00, 0x00, 0x03, 0x00};
    const TRbsp Rbsp = UnescapeNal(Nal);
    EXPECT_EQ(Rbsp.Bytes, (TBytes{0x06, 0x00, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Rbsp.Removed, (std::vector<std::size_t>{3, 8}));
    const struct
    {
        std::size_t Bit;
        std::int64_t Byte;
        bool Settable;
    } Cases[] = {
        {5, 0, true},       // a bit already set
        {8 + 7, 1, false},  // 00 of 00 00 03 turning 01 would leave the 03 in
        {16 + 7, 2, false}, // and the other zero
        {24 + 0, 4, false}, // 01 after the 03 turning 81
        {24 + 6, 4, true},  // 01 after the 03 turning 03
        {32 + 1, 5, true},  // 80 turning C0, away from escapes
        {56 + 0, 9, false}, // the last 00, after an 03, turning 80
        {56 + 7, 9, true},  // or 01
    };
    for (const auto& C : Cases) {
        const TFlagPosition Flag = FlagPosition(Rbsp, Nal, C.Bit);
        EXPECT_EQ(Flag.Byte, C.Byte) << C.Bit;
        EXPECT_EQ(Flag.Mask, 0x80 >> (C.Bit % 8)) << C.Bit;
        EXPECT_EQ(Flag.Settable, C.Settable) << C.Bit;
    }
}

TEST(H264Levels, GiveTheBuffersOfTheStandard)
{
    const auto Sps = [](std::uint8_t Profile, std::uint8_t Level, std::uint32_t W, std::uint32_t H,
                        bool Frames) {
        TSequenceParameterSet S;
        S.ProfileIdc = Profile;
        S.LevelIdc = Level;
        S.WidthInMbs = W;
        S.HeightInMapUnits = H;
        S.FrameMbsOnly = Frames;
        return S;
    };
    // A.3.1: 1080 lines at level 4 hold 4 frames, 720p at 3.1 5, 576 lines at 3 5.
    EXPECT_EQ(MaxDpbFrames(Sps(100, 40, 120, 34, false)), 4u);
    EXPECT_EQ(MaxDpbFrames(Sps(100, 31, 80, 45, true)), 5u);
    EXPECT_EQ(MaxDpbFrames(Sps(77, 30, 45, 36, true)), 5u);
    // MaxCPB 25000 at level 4, times 1500 for High and 1200 below.
    EXPECT_EQ(CpbSizeBits(Sps(100, 40, 120, 68, true)), 37500000u);
    EXPECT_EQ(CpbSizeBits(Sps(77, 40, 120, 68, true)), 30000000u);
    EXPECT_EQ(CpbSizeBits(Sps(110, 41, 120, 68, true)), 62500u * 3600);
    EXPECT_EQ(MaxBitRate(Sps(100, 41, 120, 68, true)), 50000u * 1500);
    // Level 1b: 11 with constraint_set3 below High, 9 from High on; 1.1 else.
    TSequenceParameterSet Main1b = Sps(77, 11, 11, 9, true), High1b = Sps(100, 9, 11, 9, true);
    Main1b.Constraints = 0x10;
    EXPECT_EQ(H264LevelOf(Main1b)->MaxCPB, 350u);
    EXPECT_EQ(H264LevelOf(High1b)->MaxCPB, 350u);
    EXPECT_EQ(H264LevelOf(Sps(77, 11, 11, 9, true))->MaxCPB, 500u);
    EXPECT_EQ(H264LevelName(Main1b), "1b");
    EXPECT_EQ(H264LevelName(Sps(100, 11, 11, 9, true)), "1.1");
    EXPECT_FALSE(H264LevelOf(Sps(100, 33, 11, 9, true)));
    EXPECT_EQ(CpbSizeBits(Sps(100, 33, 11, 9, true)), 0u);
}

} // namespace
} // namespace vantrel
