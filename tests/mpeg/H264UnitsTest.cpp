// H.264 access units as the splitter finds them: in real streams against
// ffprobe's frames, in any cut of the bytes, with the stamps of their
// packets; and field pictures, redundant slices and a stream entered in the
// middle, made bit by bit from the standard.
#include "mpeg/video/H264Units.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <tuple>

namespace vantrel {
namespace {

using namespace test;

std::vector<TH264Unit> Split(const TBytes& Data, std::size_t Chunk,
                             std::optional<std::int64_t> (*Stamp)(std::size_t) = nullptr)
{
    TH264UnitSplitter Splitter;
    for (std::size_t At = 0; At < Data.size(); At += Chunk)
        Splitter.Add(Data.data() + At, std::min(Chunk, Data.size() - At),
                     Stamp ? Stamp(At / Chunk) : std::nullopt);
    Splitter.Finish();
    return Splitter.Units();
}

auto Key(const TH264Unit& U)
{
    return std::tuple(U.Start, U.Kind, U.Idr, U.Reference, U.Field, U.BottomField, U.Fields, U.Decodable,
                      U.FrameNum, U.PicOrderCnt, U.RecoveryPoint.has_value(), U.BrokenLink.Byte);
}

class H264Units : public ::testing::TestWithParam<const char*>
{
};

// One unit for each frame ffprobe decodes, in decode order, of its kind.
TEST_P(H264Units, MatchFfprobeFrames)
{
    const std::string File = Stream(GetParam());
    const auto Units = Split(ReadFile(File), 184);
    std::map<int, std::map<std::string, std::string>> Frames; // by coded_picture_number
    std::istringstream Lines(Ffprobe("-show_frames -show_entries frame=key_frame,pict_type,interlaced_frame,"
                                     "coded_picture_number -of compact=p=0",
                                     File));
    for (std::string Line; std::getline(Lines, Line);) {
        std::map<std::string, std::string> Fields;
        std::istringstream Parts(Line);
        for (std::string Part; std::getline(Parts, Part, '|');)
            if (Part.find('=') != std::string::npos)
                Fields[Part.substr(0, Part.find('='))] = Part.substr(Part.find('=') + 1);
        if (Fields.count("coded_picture_number"))
            Frames[std::stoi(Fields["coded_picture_number"])] = Fields;
    }
    ASSERT_EQ(Units.size(), Frames.size());
    EXPECT_TRUE(Units.front().Idr);
    auto Frame = Frames.begin();
    for (const TH264Unit& Unit : Units) {
        SCOPED_TRACE("unit at " + std::to_string(Unit.Start));
        EXPECT_EQ(std::string(1, "PBI"[Unit.Kind]), Frame->second["pict_type"]);
        EXPECT_EQ(Unit.Idr || Unit.RecoveryPoint, Frame->second["key_frame"] == "1");
        EXPECT_EQ(Unit.Fields, 2);
        EXPECT_TRUE(Unit.Decodable);
        ++Frame;
    }
    // Interlaced streams code their frames as MBAFF (no field pictures).
    const bool Interlaced = Frames.begin()->second["interlaced_frame"] == "1";
    for (const auto& [Number, Fields] : Frames)
        EXPECT_EQ(Fields.at("interlaced_frame") == "1", Interlaced) << Number;
}

// Units found in 1-byte, 5-byte and packet-sized pieces are those of the
// whole stream at once: start codes, slice headers and SEI across payloads.
TEST_P(H264Units, AreTheSameInAnyCutOfTheBytes)
{
    const TBytes Data = ReadFile(Stream(GetParam()));
    const auto Whole = Split(Data, Data.size());
    ASSERT_FALSE(Whole.empty());
    for (std::size_t Chunk : {1u, 5u, 184u}) {
        const auto Cut = Split(Data, Chunk);
        ASSERT_EQ(Cut.size(), Whole.size()) << Chunk;
        for (std::size_t I = 0; I < Whole.size(); ++I)
            EXPECT_EQ(Key(Cut[I]), Key(Whole[I])) << Chunk << " unit " << I;
    }
}

// A packet's stamp goes to the first unit whose first NAL unit's header
// byte stands in it; a packet in which none begins gives its stamp to none,
// and a unit in a packet without one takes none. Packets of Packet bytes,
// every third one stamped with ten times its index.
void ExpectStampsByPacket(const TBytes& Data, std::size_t Packet)
{
    const auto Units = Split(Data, Packet, [](std::size_t I) {
        return I % 3 == 0 ? std::optional<std::int64_t>(I * 10) : std::nullopt;
    });
    int Stamped = 0;
    std::optional<std::size_t> Before;
    for (const TH264Unit& Unit : Units) {
        const auto At = static_cast<std::size_t>(Unit.Start);
        const std::size_t Header = At + (Data[At + 2] == 0 ? 4 : 3); // 00 00 00 01 or 00 00 01
        const std::size_t In = Header / Packet;
        if (In == Before || In % 3 != 0)
            EXPECT_FALSE(Unit.Stamp) << Unit.Start;
        else
            EXPECT_EQ(Unit.Stamp, std::optional<std::int64_t>(In * 10)) << Unit.Start;
        Stamped += Unit.Stamp.has_value();
        Before = In;
    }
    EXPECT_GT(Stamped, 1);
}

TEST_P(H264Units, GiveEachStampToTheFirstUnitOfItsPacket)
{
    ExpectStampsByPacket(ReadFile(Stream(GetParam())), 184);
}

INSTANTIATE_TEST_SUITE_P(Libx264, H264Units,
                         ::testing::Values("avchd_1080i50_1.h264", "avchd_1080i50_2.h264",
                                           "avchd_1080i60_1.h264", "avchd_1080i60_2.h264", "avchd_lpcm.h264",
                                           "hd_720p50_1.h264", "hd_720p50_2.h264", "hd_720p50_open.h264",
                                           "hd_1080i25_1.h264", "hd_1080i25_2.h264", "hd_1080i25_open.h264",
                                           "h264_baseline.h264"),
                         [](const auto& Info) {
                             const std::string Name = Info.param;
                             return Name.substr(0, Name.size() - 5);
                         });

// A broadcast recording entered at an open GOP's I picture: the B picture
// after it that shows before it is what ffmpeg cannot show; in the whole
// stream the same GOP has that one leading picture, and the IDR start none.
TEST(H264Units, CountTheLeadingPicturesOfAnOpenGop)
{
    const std::string Cut = Stream("hd_720p50_open_cut.h264");
    const auto Units = Split(ReadFile(Cut), 184);
    ASSERT_FALSE(Units.empty());
    EXPECT_FALSE(Units.front().Idr);
    EXPECT_TRUE(Units.front().RecoveryPoint);
    EXPECT_EQ(Units.front().Kind, skI);
    EXPECT_EQ(LeadingPictures(Units), 1u);
    EXPECT_EQ(Units.size() - LeadingPictures(Units), static_cast<std::size_t>(VideoFrames(Cut)));

    const auto Whole = Split(ReadFile(Stream("hd_720p50_open.h264")), 184);
    EXPECT_EQ(LeadingPictures(Whole), 0u);
    std::size_t Points = 0;
    for (std::size_t I = 1; I < Whole.size(); ++I)
        if (Whole[I].RecoveryPoint) {
            EXPECT_EQ(LeadingPictures(std::span(Whole).subspan(I)), 1u) << I;
            ++Points;
        }
    EXPECT_EQ(Points, 3u);
}

// Writes syntax elements most significant bit first, as 7.2 reads them.
class TBitWriter
{
public:
    TBitWriter& U(int Count, std::uint64_t Value)
    {
        for (int I = Count - 1; I >= 0; --I) {
            if (m_Bits % 8 == 0)
                m_Bytes.push_back(0);
            m_Bytes.back() |= static_cast<std::uint8_t>(((Value >> I) & 1) << (7 - m_Bits % 8));
            ++m_Bits;
        }
        return *this;
    }
    TBitWriter& UE(std::uint32_t Value)
    {
        const std::uint64_t Code = std::uint64_t{Value} + 1;
        int Length = 0;
        while ((Code >> (Length + 1)) != 0)
            ++Length;
        return U(Length, 0).U(Length + 1, Code);
    }
    TBitWriter& SE(std::int32_t Value)
    {
        return UE(static_cast<std::uint32_t>(Value > 0 ? 2 * Value - 1 : -2 * Value));
    }
    // The unit with its trailing bits and emulation prevention, after a
    // four-byte start code.
    TBytes Nal()
    {
        U(1, 1);
        while (m_Bits % 8)
            U(1, 0);
        TBytes Out = {0, 0, 0, 1};
        int Zeros = 0;
        for (const std::uint8_t Byte : m_Bytes) {
            if (Zeros >= 2 && Byte <= 3) {
                Out.push_back(3);
                Zeros = 0;
            }
            Out.push_back(Byte);
            Zeros = Byte == 0 ? Zeros + 1 : 0;
        }
        return Out;
    }

private:
    TBytes m_Bytes;
    std::size_t m_Bits = 0;
};

// Main profile, 1920 x 1088 coded as fields (frame_mbs_only 0, no MBAFF),
// cropped to 1080; 64:45 pixels; 25 frames a second; pic_struct present.
TBytes FieldSps()
{
    return TBitWriter()
        .U(8, 0x67)
        .U(8, 77)
        .U(8, 0)
        .U(8, 40)
        .UE(0)
        .UE(0)
        .UE(0)
        .UE(2) // id, log2_max_frame_num - 4, poc type 0, log2 lsb - 4
        .UE(2)
        .U(1, 0)
        .UE(119)
        .UE(33)
        .U(1, 0)
        .U(1, 0)
        .U(1, 1) // refs, gaps, size, no MBAFF, 8x8
        .U(1, 1)
        .UE(0)
        .UE(0)
        .UE(0)
        .UE(2) // crop 2 x 4 lines
        .U(1, 1)
        .U(1, 1)
        .U(8, 255)
        .U(16, 64)
        .U(16, 45)
        .U(3, 0) // VUI: extended SAR
        .U(1, 1)
        .U(32, 1)
        .U(32, 50)
        .U(1, 1)
        .U(2, 0)
        .U(1, 1)
        .U(1, 0) // timing, no HRD, pic_struct
        .Nal();
}
// CABAC, one slice group, redundant_pic_cnt present.
TBytes FieldPps()
{
    return TBitWriter()
        .U(8, 0x68)
        .UE(0)
        .UE(0)
        .U(1, 1)
        .U(1, 0)
        .UE(0)
        .UE(0)
        .UE(0)
        .U(3, 0)
        .SE(0)
        .SE(0)
        .SE(0)
        .U(2, 2)
        .U(1, 1)
        .Nal();
}
struct TSlice
{
    int Type, Ref, FirstMb, SliceType, FrameNum, Field, Bottom, Poc, Redundant;
};
TBytes Slice(const TSlice& S)
{
    TBitWriter W;
    W.U(8, (S.Ref << 5) | S.Type).UE(S.FirstMb).UE(S.SliceType).UE(0).U(4, S.FrameNum).U(1, S.Field);
    if (S.Field)
        W.U(1, S.Bottom);
    if (S.Type == 5)
        W.UE(0); // idr_pic_id
    W.U(6, S.Poc).UE(S.Redundant);
    return W.Nal();
}

TEST(H264Units, SplitFieldPicturesAndSlicesWithoutDelimiters)
{
    const TBytes Aud = TBitWriter().U(8, 0x09).U(3, 0).Nal();
    const TBytes Prefix = TBitWriter().U(8, 0x6E).U(24, 0x40000F).Nal(); // nal_unit_header_mvc_extension
    // pic_timing: pic_struct 5 (top, bottom, top), three clock flags of 0.
    const TBytes Timing = TBitWriter().U(8, 0x06).U(8, 1).U(8, 1).U(4, 5).U(3, 0).U(1, 1).Nal();
    const std::vector<TBytes> Nals = {
        // Entered in the middle: two slices of a P picture, one of a B.
        Slice({1, 2, 0, 5, 3, 1, 0, 20, 0}), Slice({1, 2, 60, 5, 3, 1, 0, 20, 0}),
        Slice({1, 0, 0, 6, 4, 1, 0, 16, 0}),
        // An IDR top field in two slices and a redundant copy, then its
        // bottom field: no delimiter, the slice headers tell them apart.
        // The copy is a P slice: redundant pictures need not be of their
        // primary picture's kind.
        FieldSps(), FieldPps(), Slice({5, 3, 0, 7, 0, 1, 0, 0, 0}), Slice({5, 3, 60, 7, 0, 1, 0, 0, 0}),
        Slice({5, 3, 0, 5, 0, 1, 0, 0, 1}), Slice({1, 2, 0, 5, 0, 1, 1, 1, 0}),
        // A non-reference B frame that shows for three fields, then a pair
        // of B fields that only bottom_field_flag tells apart.
        Timing, Slice({1, 0, 0, 6, 1, 0, 0, 4, 0}), Slice({1, 0, 0, 1, 1, 1, 0, 8, 0}),
        Slice({1, 0, 0, 1, 1, 1, 1, 8, 0}),
        // Delimited P fields; the lsb of 6 bits wraps from 58 to 2. A
        // non-reference picture's lsb (40) does not move the next one's msb.
        Aud, Slice({1, 2, 0, 0, 1, 1, 0, 30, 0}), Aud, Slice({1, 2, 0, 0, 2, 1, 0, 58, 0}), Aud,
        Slice({1, 2, 0, 0, 3, 1, 0, 2, 0}), Aud, Slice({1, 0, 0, 1, 4, 1, 0, 40, 0}), Aud,
        Slice({1, 2, 0, 0, 4, 1, 0, 24, 0}),
        // A multiview stream's base view: a prefix before each slice, the
        // first of them where the picture begins.
        Prefix, Slice({1, 2, 0, 0, 5, 1, 0, 26, 0}), Prefix, Slice({1, 2, 60, 0, 5, 1, 0, 26, 0})};
    TBytes Stream;
    std::vector<std::int64_t> Starts;
    for (const TBytes& Nal : Nals) {
        Starts.push_back(static_cast<std::int64_t>(Stream.size()));
        Stream.insert(Stream.end(), Nal.begin(), Nal.end());
    }
    struct
    {
        std::size_t FirstNal;
        TSliceKind Kind;
        bool Decodable, Idr, Reference, Field, Bottom;
        int Fields;
        std::optional<std::int64_t> Poc;
    } const Expected[] = {
        {0, skP, false, false, true, false, false, 2, std::nullopt},
        {2, skB, false, false, false, false, false, 2, std::nullopt},
        {3, skI, true, true, true, true, false, 1, 0},
        {8, skP, true, false, true, true, true, 1, 1},
        {9, skB, true, false, false, false, false, 3, 4},
        {11, skB, true, false, false, true, false, 1, 8},
        {12, skB, true, false, false, true, true, 1, 8},
        {13, skP, true, false, true, true, false, 1, 30},
        {15, skP, true, false, true, true, false, 1, 58},
        {17, skP, true, false, true, true, false, 1, 66},
        {19, skB, true, false, false, true, false, 1, 40},
        {21, skP, true, false, true, true, false, 1, 88},
        {23, skP, true, false, true, true, false, 1, 90},
    };
    for (std::size_t Chunk : {Stream.size(), std::size_t{1}}) {
        const auto Units = Split(Stream, Chunk);
        ASSERT_EQ(Units.size(), std::size(Expected)) << Chunk;
        for (std::size_t I = 0; I < Units.size(); ++I) {
            const auto& E = Expected[I];
            const TH264Unit& U = Units[I];
            EXPECT_EQ(std::tuple(U.Start, U.Kind, U.Decodable, U.Idr, U.Reference, U.Field, U.BottomField,
                                 U.Fields, U.PicOrderCnt),
                      std::tuple(Starts[E.FirstNal], E.Kind, E.Decodable, E.Idr, E.Reference, E.Field,
                                 E.Bottom, E.Fields, E.Poc))
                << "unit " << I << ", pieces of " << Chunk;
        }
    }
    // Several units in one packet: only the first takes its stamp.
    ExpectStampsByPacket(Stream, 40);
    TH264UnitSplitter Splitter;
    Splitter.Add(Stream.data(), Stream.size());
    const TSequenceParameterSet& Sps = *Splitter.Sets().Sps(0);
    EXPECT_EQ(H264VideoText(Sps), "1920 x 1080i H.264 Main@4.0");
    EXPECT_FALSE(Sps.Mbaff);
    EXPECT_EQ(std::tuple(Sps.SarWidth, Sps.SarHeight), std::tuple(64, 45));
    EXPECT_DOUBLE_EQ(Sps.FrameRate(), 25.0);
}

} // namespace
} // namespace vantrel
