// The suite's transport check, the oracle joins of transport streams are
// judged by: on ffmpeg's own streams, and with faults planted in them.
#include "TransportCheck.h"
#include "H264Model.h"
#include "TestSupport.h"
#include "TransportSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <stdexcept>

namespace vantrel {
namespace {

using namespace test;

bool OnlyFaultsOf(const TTransportCheck& Check, const std::set<std::string>& Kinds)
{
    for (const std::string& Fault : Check.Faults)
        if (!Kinds.count(Fault.substr(0, Fault.find(" at byte"))))
            return false;
    return true;
}

// ffmpeg's streams hold what DVB asks of their tables, counters, clock and
// stamps, and the decoder model's timing: every picture and sound frame is
// in its buffer by its decode time. They do not keep the model's buffer
// sizes for sound: ffmpeg sends a PES packet's transport packets back to
// back (an audio transport buffer of 512 bytes, emptied at 2 Mbit/s, runs
// over when the rate between two PCRs is high), and sound ahead of its time
// by up to its max_delay (0.15 s here, 0.7 s by default: the main buffer of
// 3584 bytes, 5696 for AC-3, runs over). Where ffmpeg keeps its default PCR
// period (80 ms), DVB's 40 ms is not met.
TEST(TransportCheck, FfmpegsStreams)
{
    const struct
    {
        const char* Name;
        bool DVBClock;
    } Cases[] = {{"ts_mp2.ts", true}, {"ts_ac3.ts", true},  {"ts_cbr.ts", true},   {"ts_m2ts.m2ts", true},
                 {"ts_204.ts", true}, {"ts_pids.ts", true}, {"ts_pmtv1.ts", true}, {"ts_wrap.ts", true},
                 {"ts_rec.ts", true}, {"ts_aac.ts", false}, {"ts_latm.ts", false}, {"ts_eac3.ts", false},
                 {"ts_mux.ts", false}};
    for (const auto& Case : Cases) {
        const TTransportCheck Check = CheckTransport(ReadFile(Stream(Case.Name)));
        SCOPED_TRACE(std::string(Case.Name) + ": " + Check.Text());
        EXPECT_EQ(Check.SyncLosses + Check.SyncByteErrors + Check.PATErrors + Check.PMTErrors +
                      Check.ContinuityErrors + Check.TransportErrors + Check.CRCErrors +
                      Check.PCRDiscontinuityErrors + Check.PTSErrors + Check.CATErrors,
                  0);
        EXPECT_EQ(Check.PCRRepetitionErrors == 0, Case.DVBClock);
        EXPECT_LE(Check.MaxPCRGap, Case.DVBClock ? 0.04 : 0.08);
        EXPECT_LE(Check.MaxPATGap, 0.5);
        EXPECT_EQ(Check.Late, 0);
        // ffmpeg's arrival stamps at a free rate step back and forth.
        EXPECT_TRUE(OnlyFaultsOf(
            Check, {"TB overflow", "B overflow", "PCR_repetition_error", "Arrival_stamp_error"}));
        // A unit a picture, as ffprobe counts them, and a sound frame each.
        const int Frames = VideoFrames(Stream(Case.Name));
        int VideoUnits = 0;
        for (const auto& [PID, Units] : Check.UnitsOf)
            VideoUnits = std::max(VideoUnits, Units == Frames ? Units : 0);
        EXPECT_EQ(VideoUnits, Frames);
        EXPECT_GT(Check.Units, 2 * Frames);
    }
}

// ts_mp2.ts with one change; the check that finds it, and where.
struct TPlanted
{
    const char* Name;
    std::function<void(std::vector<TBytes>& Packets)> Plant;
    int TTransportCheck::*Count;
    const char* Kind;
};

std::uint16_t PID(const TBytes& Packet)
{
    return static_cast<std::uint16_t>(((Packet[1] & 0x1F) << 8) | Packet[2]);
}
// The index of the Nth packet (from 0) of a PID that matches.
std::size_t Nth(const std::vector<TBytes>& Packets, std::uint16_t Of, int N,
                const std::function<bool(const TBytes&)>& Match = {})
{
    for (std::size_t I = 0; I < Packets.size(); ++I)
        if (PID(Packets[I]) == Of && (!Match || Match(Packets[I])) && N-- == 0)
            return I;
    throw std::runtime_error("no such packet");
}
bool HasPCR(const TBytes& P)
{
    return (P[3] & 0x20) && P[4] >= 7 && (P[5] & 0x10);
}
void MovePCR(TBytes& P, std::int64_t Ticks)
{
    std::int64_t Base = (std::int64_t(P[6]) << 25) | (P[7] << 17) | (P[8] << 9) | (P[9] << 1) | (P[10] >> 7);
    Base += Ticks / 300;
    const TBytes Field = PCRAdaptation(Base, ((P[10] & 1) << 8) | P[11]);
    std::copy(Field.begin() + 1, Field.end(), P.begin() + 6);
}
// Every PCR from the Nth on moved by Ticks, the first with the
// discontinuity indicator when Announced.
void StepClock(std::vector<TBytes>& Packets, int N, std::int64_t Ticks, bool Announced)
{
    const std::size_t From = Nth(Packets, 0x100, N, HasPCR);
    if (Announced)
        Packets[From][5] |= 0x80;
    for (std::size_t I = From; I < Packets.size(); ++I)
        if (PID(Packets[I]) == 0x100 && HasPCR(Packets[I]))
            MovePCR(Packets[I], Ticks);
}
void Nullify(TBytes& P)
{
    P[1] = 0x1F, P[2] = 0xFF;
}

class PlantedFault : public ::testing::TestWithParam<TPlanted>
{
};
TEST_P(PlantedFault, IsFound)
{
    std::vector<TBytes> Packets = TSPackets(ReadFile(Stream("ts_mp2.ts")));
    GetParam().Plant(Packets);
    TBytes File;
    for (const TBytes& P : Packets)
        File.insert(File.end(), P.begin(), P.end());
    const TTransportCheck Check = CheckTransport(File);
    EXPECT_GE(Check.*GetParam().Count, 1) << Check.Text();
    EXPECT_FALSE(Check.Clean());
    const auto Found = std::find_if(Check.Faults.begin(), Check.Faults.end(),
                                    [](const std::string& F) { return F.rfind(GetParam().Kind, 0) == 0; });
    ASSERT_NE(Found, Check.Faults.end()) << Check.Text();
    EXPECT_NE(Found->find(" at byte "), std::string::npos);
}
INSTANTIATE_TEST_SUITE_P(
    IntoFfmpegsStream, PlantedFault,
    ::testing::Values(TPlanted{"ACounterSkipped",
                               [](auto& P) {
                                   TBytes& V = P[Nth(P, 0x100, 200)];
                                   V[3] = static_cast<std::uint8_t>((V[3] & 0xF0) | ((V[3] + 2) & 0x0F));
                               },
                               &TTransportCheck::ContinuityErrors, "Continuity_count_error"},
                      TPlanted{"APCRMoved",
                               [](auto& P) { MovePCR(P[Nth(P, 0x100, 10, HasPCR)], 27000000 / 5); },
                               &TTransportCheck::PCRDiscontinuityErrors, "PCR_discontinuity_indicator_error"},
                      TPlanted{"PCRsLeftOut",
                               [](auto& P) {
                                   for (int N = 10; N < 13; ++N)
                                       P[Nth(P, 0x100, N, HasPCR)][5] &= ~0x10;
                               },
                               &TTransportCheck::PCRRepetitionErrors, "PCR_repetition_error"},
                      // The clock a third of a second on from a picture on, announced:
                      // the packets come as late against their stamps.
                      TPlanted{"PacketsDelayed", [](auto& P) { StepClock(P, 10, 27000000 / 3, true); },
                               &TTransportCheck::Late, "late unit"},
                      TPlanted{"NoPATForASecond",
                               [](auto& P) {
                                   for (int N = 3; N < 13; ++N)
                                       Nullify(P[Nth(P, 0, 3)]);
                               },
                               &TTransportCheck::PATErrors, "PAT_error"},
                      TPlanted{"NoPMTForASecond",
                               [](auto& P) {
                                   for (int N = 3; N < 13; ++N)
                                       Nullify(P[Nth(P, 0x1000, 3)]);
                               },
                               &TTransportCheck::PMTErrors, "PMT_error"},
                      TPlanted{"NoSoundForASecond",
                               [](auto& P) {
                                   const std::size_t From = Nth(P, 0x101, 100);
                                   for (std::size_t I = From; I < From + 700; ++I)
                                       if (PID(P[I]) == 0x101)
                                           Nullify(P[I]);
                               },
                               &TTransportCheck::PTSErrors, "PTS_error"},
                      TPlanted{"TwoSyncBytesLost",
                               [](auto& P) {
                                   P[300][0] = 0x46;
                                   P[301][0] = 0x00;
                               },
                               &TTransportCheck::SyncLosses, "TS_sync_loss"},
                      TPlanted{"APMTDamaged", [](auto& P) { P[Nth(P, 0x1000, 2)][20] ^= 0x40; },
                               &TTransportCheck::CRCErrors, "CRC_error"},
                      TPlanted{"ATransportError", [](auto& P) { P[Nth(P, 0x101, 5)][1] |= 0x80; },
                               &TTransportCheck::TransportErrors, "Transport_error"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// A PCR step announced by its indicator is a new clock, not a fault; and
// the clock's wrap past 2^33 is none either.
TEST(TransportCheck, AnnouncedDiscontinuityAndTheWrap)
{
    std::vector<TBytes> Packets = TSPackets(ReadFile(Stream("ts_mp2.ts")));
    StepClock(Packets, 10, -27000000 * 5, true);
    TBytes File;
    for (const TBytes& Packet : Packets)
        File.insert(File.end(), Packet.begin(), Packet.end());
    const TTransportCheck Check = CheckTransport(File);
    EXPECT_EQ(Check.PCRDiscontinuityErrors, 0) << Check.Text();
    const TTransportCheck Wrap = CheckTransport(ReadFile(Stream("ts_wrap.ts")));
    EXPECT_EQ(Wrap.PCRDiscontinuityErrors + Wrap.PTSErrors + Wrap.Late, 0) << Wrap.Text();
}

// A file's packets with every PES stream but its video's made null packets
// in place, so that every other byte arrives when it did.
std::vector<TBytes> VideoAlone(const TBytes& File)
{
    std::vector<TBytes> Packets = TSPackets(File);
    std::map<std::uint16_t, std::uint8_t> StreamIds;
    const auto Fields = [](const TBytes& P) {
        TTSPacket Read;
        ReadTSPacket(P, P.size() == 192 ? 4 : 0, Read);
        return Read;
    };
    for (const TBytes& P : Packets)
        if (const TTSPacket F = Fields(P); F.UnitStart && F.PayloadLength >= 4 && P[F.Payload] == 0 &&
                                           P[F.Payload + 1] == 0 && P[F.Payload + 2] == 1)
            StreamIds.emplace(F.PID, P[F.Payload + 3]);
    for (TBytes& P : Packets)
        if (const auto Id = StreamIds.find(Fields(P).PID); Id != StreamIds.end() && Id->second != 0xE0)
            P[P.size() - 187] = 0x1F, P[P.size() - 186] = 0xFF;
    return Packets;
}

// The H.264 inputs of joins, their video alone: every picture in its
// buffers in time and none over the sizes of its level or HRD, and an
// access unit a picture as ffprobe counts them. Planted in one: a late
// unit (the clock a third of a second on from a picture on, announced),
// and a level too low for the stream (1.0's: 115 kbit/s out of the
// transport buffer).
struct TH264Case
{
    const char* Name;
    void (*Plant)(std::vector<TBytes>& Packets) = nullptr;
    int TTransportCheck::*Faults = nullptr;
    const char* Kind = "";
};
class H264Model : public ::testing::TestWithParam<TH264Case>
{
};
TEST_P(H264Model, HoldsOrFindsThePlantedFault)
{
    const TH264Case& Case = GetParam();
    std::vector<TBytes> Packets = VideoAlone(ReadFile(Stream(Case.Name)));
    if (Case.Plant)
        Case.Plant(Packets);
    TBytes File;
    for (const TBytes& P : Packets)
        File.insert(File.end(), P.begin(), P.end());
    const TTransportCheck Check = CheckTransport(File);
    SCOPED_TRACE(Check.Text());
    ASSERT_EQ(Check.UnitsOf.size(), 1u);
    if (!Case.Plant) {
        EXPECT_EQ(Check.Late + Check.Overflows, 0);
        EXPECT_EQ(Check.UnitsOf.begin()->second, VideoFrames(Stream(Case.Name)));
        return;
    }
    EXPECT_GE(Check.*Case.Faults, 1);
    EXPECT_TRUE(std::any_of(Check.Faults.begin(), Check.Faults.end(),
                            [&](const std::string& F) { return F.rfind(Case.Kind, 0) == 0; }));
}
void LevelOne(std::vector<TBytes>& Packets)
{
    int Set = 0;
    for (TBytes& P : Packets)
        for (std::size_t I = 4; I + 7 <= P.size(); ++I)
            if (P[I] == 0 && P[I + 1] == 0 && P[I + 2] == 1 && (P[I + 3] & 0x1F) == 7)
                P[I + 6] = 10, ++Set;
    ASSERT_GT(Set, 0);
}
INSTANTIATE_TEST_SUITE_P(
    Inputs, H264Model,
    ::testing::Values(TH264Case{"hd_720p50_1.ts"}, TH264Case{"hd_720p50_open.ts"},
                      TH264Case{"hd_1080i25_1.ts"}, TH264Case{"hd_1080i25_open.ts"},
                      TH264Case{"avchd_1080i50_1.m2ts"}, TH264Case{"avchd_1080i60_1.m2ts"},
                      TH264Case{"avchd_lpcm.m2ts"},
                      TH264Case{"hd_720p50_1.ts", [](auto& P) { StepClock(P, 10, 27000000 / 3, true); },
                                &TTransportCheck::Late, "late unit"},
                      TH264Case{"hd_720p50_1.ts", LevelOne, &TTransportCheck::Overflows, "TB overflow"}),
    [](const auto& Info) {
        std::string Name = Info.param.Name;
        Name = Name.substr(0, Name.find('.'));
        return Name + (Info.param.Plant ? "_planted" + std::to_string(Info.index) : "");
    });

// The units of the elementary streams: a picture each, found by their
// delimiters and, with those taken out, by their first slices.
TEST(H264Model, UnitsWithAndWithoutDelimiters)
{
    for (const char* Name : {"hd_720p50_open.h264", "hd_1080i25_1.h264", "avchd_1080i60_1.h264"}) {
        SCOPED_TRACE(Name);
        const TBytes Delimited = ReadFile(Stream(Name));
        TBytes Plain;
        for (std::size_t I = 0; I < Delimited.size(); ++I) {
            // 00 00 00 01 09 and primary_pic_type's byte.
            if (I + 6 <= Delimited.size() && Delimited[I] == 0 && Delimited[I + 1] == 0 &&
                Delimited[I + 2] == 0 && Delimited[I + 3] == 1 && (Delimited[I + 4] & 0x1F) == 9) {
                I += 5;
                continue;
            }
            Plain.push_back(Delimited[I]);
        }
        ASSERT_LT(Plain.size(), Delimited.size());
        const int Frames = VideoFrames(Stream(Name));
        for (const TBytes& ES : {std::cref(Delimited), std::cref(Plain)}) {
            const auto Ranges = H264UnitRanges(ES);
            ASSERT_EQ(int(Ranges.size()), Frames);
            for (std::size_t I = 0; I < Ranges.size(); ++I) {
                // A start before its slice, after the unit before; a slice
                // (a 4-byte start code or a 3-byte one) where it says.
                EXPECT_LE(Ranges[I].first, Ranges[I].second);
                EXPECT_TRUE(I == 0 || Ranges[I].first > Ranges[I - 1].second);
                const std::size_t Header = Ranges[I].second + (ES[Ranges[I].second + 2] == 1 ? 3 : 4);
                EXPECT_GE(ES[Header] & 0x1F, 1);
                EXPECT_LE(ES[Header] & 0x1F, 5);
            }
        }
    }
}

} // namespace
} // namespace vantrel
