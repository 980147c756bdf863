// The joiner's own buffer model: the access units it finds in real streams,
// and the schedule it plans at a joint.
#include "join/JointPlanner.h"
#include "join/TransportJoint.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/ProgramStreamReader.h"

#include "TestSupport.h"
#include "mpeg/StartCodes.h"

#include <gtest/gtest.h>
#include <map>

namespace vantrel {
namespace {

using namespace test;

// Every picture and every audio frame of a stream is one unit, in decode
// order, as ffprobe counts the frames.
TEST(UnitSplitter, FindsTheFramesOfRealStreams)
{
    for (const char* Name : {"ff_pal_b.mpg", "mplex_vcd_b.mpg", "ff_ntsc2.mpg", "ff_pal_mp3.mpg"}) {
        TProgramStreamReader Reader;
        Reader.Open(Stream(Name));
        std::map<std::uint8_t, TUnitSplitter> Streams;
        std::vector<std::uint8_t> Payload;
        while (Reader.NextPacket()) {
            const TPESInfo& PES = Reader.PES();
            if (Reader.PacketKind() != pkPES || !(IsAudioStream(PES.StreamId) || IsVideoStream(PES.StreamId)))
                continue;
            Payload.resize(PES.PayloadLength);
            Reader.ReadPayload(Payload.data());
            const auto Stamp = PES.HasDTS   ? std::optional(PES.DTS)
                               : PES.HasPTS ? std::optional(PES.PTS)
                                            : std::nullopt;
            Streams.try_emplace(PES.StreamId, PES.StreamId, 3600)
                .first->second.Add(Payload.data(), Payload.size(), Stamp);
        }
        const auto Frames = [&](const char* Selector) {
            return std::stoi(Ffprobe(std::string("-count_frames -select_streams ") + Selector +
                                         " -show_entries stream=nb_read_frames -of csv=p=0",
                                     Stream(Name)));
        };
        EXPECT_EQ(Streams.at(0xE0).Units().size(), static_cast<std::size_t>(Frames("v:0"))) << Name;
        EXPECT_EQ(Streams.at(0xC0).Units().size(), static_cast<std::size_t>(Frames("a:0"))) << Name;
        for (const auto& [Id, Splitter] : Streams)
            for (std::size_t I = 1; I < Splitter.Units().size(); ++I) {
                ASSERT_GT(Splitter.Units()[I].Decode, Splitter.Units()[I - 1].Decode) << Name << " " << I;
                ASSERT_GT(Splitter.Units()[I].Start, Splitter.Units()[I - 1].Start) << Name << " " << I;
            }
    }
}

// One audio stream with a 4096-byte buffer that the earlier file leaves
// full: the later file's first packet must wait for room. Where the rate is
// free its pack arrives faster instead of later; on a fixed-rate disc only a
// pause keeps its first frame on time.
TEST(PlanJoint, WaitsForRoomAndPausesOnlyWhereTheRateIsFixed)
{
    TBytes Frames;
    for (int I = 0; I < 6; ++I)
        Frames = Concat({Frames, {0xFF, 0xFD, 0xA0, 0x04}, Filled(622, 0)}); // 626 bytes each
    const std::int64_t FrameTicks = 2351;                                    // 1152 samples at 44.1 kHz
    // Also on a line below zero: a short first file, a later one whose
    // clock starts well before its first stamp.
    for (const std::int64_t Origin : {10000, -200000}) {
        TBufferModel Before;
        Before.Add(0xC0, 3600, Frames.data(), Frames.size(), Origin, 4096);
        const std::int64_t LastDecode = Origin + 5 * FrameTicks;
        // The later file: one pack of one packet of two frames, the first
        // due right after the earlier file's last, at its own time well before.
        const std::vector<TLeadPack> Packs = {
            {0, LastDecode - 9000, 3528, 2324, false, {{0xC0, 2324, 2 * 626}}}};
        const std::map<std::uint8_t, std::vector<TAccessUnit>> Units = {
            {0xC0, {{0, LastDecode + FrameTicks}, {626, LastDecode + 2 * FrameTicks}}}};
        for (const bool Fixed : {false, true}) {
            const TJointPlan Plan =
                PlanJoint(Packs, Units, {{0xC0, 4096}}, Before, LastDecode - 9000, Fixed, true);
            EXPECT_TRUE(Plan.Holds) << Fixed;
            ASSERT_FALSE(Plan.SCR.empty());
            ASSERT_TRUE(Plan.SCR[0]) << "left out at " << Origin;
            // Room for 1252 bytes once two of the six frames have left.
            EXPECT_GE(*Plan.SCR[0], Origin + FrameTicks) << Fixed;
            EXPECT_EQ(Plan.Pause, 0) << Fixed;
        }
    }
}

// A later file that starts with the rest of a frame its cut left: those bytes
// wait in the buffer until its first frame leaves, and its first pack must
// find room for them too.
TEST(PlanJoint, BytesBeforeTheFirstUnitTakeRoomToo)
{
    TBytes Frames;
    for (int I = 0; I < 6; ++I)
        Frames = Concat({Frames, {0xFF, 0xFD, 0xA0, 0x04}, Filled(622, 0)});
    const std::int64_t FrameTicks = 2351, Origin = 10000, LastDecode = Origin + 5 * FrameTicks;
    TBufferModel Before;
    Before.Add(0xC0, 3600, Frames.data(), Frames.size(), Origin, 4096);
    const std::vector<TLeadPack> Packs = {
        {0, LastDecode - 9000, 3528, 2324, false, {{0xC0, 2324, 600 + 2 * 626}}}};
    const std::map<std::uint8_t, std::vector<TAccessUnit>> Units = {
        {0xC0, {{600, LastDecode + FrameTicks}, {600 + 626, LastDecode + 2 * FrameTicks}}}};
    const TJointPlan Plan = PlanJoint(Packs, Units, {{0xC0, 4096}}, Before, LastDecode - 9000, false, true);
    EXPECT_TRUE(Plan.Holds);
    ASSERT_FALSE(Plan.SCR.empty());
    ASSERT_TRUE(Plan.SCR[0]);
    // 1852 bytes fit once three of the six earlier frames have left.
    EXPECT_GE(*Plan.SCR[0] + ArrivalTicks(2324, 3528), Origin + 2 * FrameTicks);
}

// A later file of one video stream: Count packs back to back at its rate
// (2000 bytes a frame), each a picture due Delay after its pack starts.
struct TLaterFile
{
    std::vector<TLeadPack> Packs;
    std::map<std::uint8_t, std::vector<TAccessUnit>> Units;
};
TLaterFile FullRate(int Count, std::int64_t Delay)
{
    TLaterFile File;
    for (int K = 0; K < Count; ++K) {
        File.Packs.push_back({K * 2000, K * 3600, 1000, 2000, false, {{0xE0, 2000, 1980}}});
        File.Units[0xE0].push_back({K * 1980, K * 3600 + Delay});
    }
    return File;
}

// The earlier file's channel is busy for long after the later file's own
// clock begins. No rate can bring a picture due before the channel is free:
// the pause grows as long as it must, also past a third of a second. And a
// schedule that leaves the file behind its own clock where the look ahead
// ends holds only when the look ahead saw the whole file.
TEST(PlanJoint, PausesAsLongAsItMustAndEndsOnTheFilesOwnClock)
{
    const TBufferModel Empty;
    for (const bool Fixed : {false, true}) {
        // Channel free 0.7 s in; the first picture due 0.2 s in.
        const TLaterFile Late = FullRate(40, 18000);
        const TJointPlan Plan = PlanJoint(Late.Packs, Late.Units, {}, Empty, 63000, Fixed, false);
        EXPECT_TRUE(Plan.Holds) << Fixed;
        EXPECT_GE(Plan.Pause, 63000 - 18000 - 3600) << Fixed;
        EXPECT_LE(Plan.Pause, 63000 + (Fixed ? 1200 : 90)) << Fixed;
        ASSERT_FALSE(Plan.SCR.empty());
        EXPECT_GE(*Plan.SCR.front(), 63000) << Fixed;
    }
    // Behind by a second, yet every picture on time: at the full rate the
    // file never catches up. Seen to its end, that is fine; otherwise only a
    // pause that puts it on its own clock holds.
    const TLaterFile Slack = FullRate(40, 180000);
    const TJointPlan Whole = PlanJoint(Slack.Packs, Slack.Units, {}, Empty, 90000, true, true);
    EXPECT_TRUE(Whole.Holds);
    EXPECT_EQ(Whole.Pause, 0);
    const TJointPlan Part = PlanJoint(Slack.Packs, Slack.Units, {}, Empty, 90000, true, false);
    EXPECT_TRUE(Part.Holds);
    EXPECT_GE(Part.Pause, 90000 - 1);
    ASSERT_FALSE(Part.SCR.empty());
    EXPECT_EQ(*Part.SCR.back(), Slack.Packs[Part.SCR.size() - 1].SCR + Part.Pause);
}

// H.264's units as its transport packets bring them, one stamp at the
// start: a picture each (the last one too, once the stream ends), each a
// frame after the one before, field pairs (1080i) as much as frames.
TEST(UnitSplitter, CutsH264AsItsPacketsCome)
{
    for (const auto& [Name, Ticks] : {std::pair{"hd_720p50_1.h264", 1800}, {"hd_1080i25_1.h264", 3600}}) {
        const TBytes Data = ReadFile(Stream(Name));
        TUnitSplitter Units(0x100, Ticks, scH264);
        for (std::size_t At = 0; At < Data.size(); At += 184)
            Units.Add(&Data[At], std::min<std::size_t>(184, Data.size() - At),
                      At == 0 ? std::optional<std::int64_t>(1000) : std::nullopt, true);
        const std::size_t Before = Units.Units().size();
        Units.Finish();
        ASSERT_EQ(static_cast<int>(Units.Units().size()), VideoFrames(Stream(Name))) << Name;
        EXPECT_EQ(Before + 1, Units.Units().size()) << Name;
        for (std::size_t I = 0; I < Units.Units().size(); ++I) {
            EXPECT_EQ(Units.Units()[I].Decode, 1000 + static_cast<std::int64_t>(I) * Ticks)
                << Name << " " << I;
            EXPECT_EQ(Units.Units()[I].Start, Units.H264()->Units()[I].Start);
        }
    }
}

// The T-STD's buffers of H.264 by level and profile (ISO/IEC 13818-1,
// 2.14.3.1; ISO/IEC 14496-10, Tables ): Rmax = 1.2 x
// cpbBrNalFactor x MaxBR, BSmux + BSoh + cpbBrNalFactor x MaxCPB.
TEST(TransportJoint, H264BuffersByLevel)
{
    struct TCase
    {
        std::uint8_t Profile, Level;
        std::int64_t Size;
        double Leak; // bytes a second
    };
    for (const TCase& Case :
         {TCase{100, 40, 18000 + 6000 + 4687500, 4.5e6}, TCase{100, 32, 18000 + 6000 + 3750000, 4.5e6},
          TCase{77, 30, 7200 + 2400 + 1500000, 1.8e6}}) {
        TSequenceParameterSet Sps;
        Sps.ProfileIdc = Case.Profile;
        Sps.LevelIdc = Case.Level;
        const std::optional<TStreamBuffer> Buffer = H264StreamBuffer(Sps);
        ASSERT_TRUE(Buffer);
        EXPECT_EQ(Buffer->Size, Case.Size) << int(Case.Level);
        EXPECT_DOUBLE_EQ(Buffer->Leak, Case.Leak) << int(Case.Level);
    }
    TSequenceParameterSet Unknown;
    Unknown.LevelIdc = 7;
    EXPECT_FALSE(H264StreamBuffer(Unknown));
}

// A sound buffer that the files fill past its size by themselves (ffmpeg's
// muxer sends sound far ahead of its time): a joint may fill it as far as
// either file does, no further, and past its size only where one does. The
// earlier file's units of Bytes decode a tenth of a second apart from 10.1 s;
// the later one sends six packets of Bytes a tenth apart from 10 s, which
// decode from 10.7 s.
TEST(TransportJoint, KeepsAnInputsOwnOverflowAndMakesNoNewOne)
{
    constexpr std::uint16_t Sound = 0x101;
    constexpr std::int64_t At10 = 10 * ClockRate, Tenth = ClockRate / 10;
    struct TCase
    {
        const char* Why;
        int EarlierUnits;
        std::int64_t Bytes;
        std::int64_t Pause;
    };
    for (const TCase& Case : {
             // 7000 bytes at once: after a tenth, 6000, as both hold alone.
             TCase{"both fill it to 6000 bytes", 6, 1000, Tenth},
             // 3850 at once, 3300 after a tenth.
             TCase{"neither fills it past its size", 6, 550, Tenth},
             // At most 4000 at first, and 6000 as the later file alone.
             TCase{"the later one fills it to 6000", 3, 1000, 0},
         }) {
        TBufferModel Before;
        const std::vector<std::uint8_t> Unit(static_cast<std::size_t>(Case.Bytes), 0x55);
        for (int K = 1; K <= Case.EarlierUnits; ++K)
            Before.Add(Sound, 0, Unit.data(), Unit.size(), At10 + K * Tenth, 3584, scLPCM);
        Before.Finish(Sound);
        TTransportEnd End;
        End.LastPCR = (At10 - Tenth) * 300;
        End.TicksPerByte = 27; // a megabyte a second
        End.Waiting = &Before;
        End.PCRPID = 0x100;
        TTransportLead Lead;
        Lead.FirstPCR = At10 * 300;
        Lead.TicksPerByte = 27;
        Lead.Buffers[Sound] = {3584, 2e6 / 8};
        for (int I = 0; I < 6; ++I) {
            Lead.Packets.push_back({Sound, static_cast<double>((At10 + I * Tenth) * 300),
                                    static_cast<std::uint32_t>(Case.Bytes)});
            Lead.Units[Sound].push_back({I * Case.Bytes, At10 + (7 + I) * Tenth});
        }
        EXPECT_EQ(PlanTransportJoint(End, Lead).Pause, Case.Pause) << Case.Why;
    }
}

} // namespace
} // namespace vantrel
