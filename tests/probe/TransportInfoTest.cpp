// The probe of transport streams, against what ffprobe finds in ffmpeg's
// streams; cut pieces, a file of gigabytes read at its ends only, the
// refusals, and the join rules and texts of transport streams.
#include "probe/TransportInfo.h"
#include "mpeg/ts/ProgramTables.h"
#include "probe/JoinRules.h"
#include "probe/MPEGInfo.h"
#include "probe/MediaJson.h"
#include "probe/MediaText.h"

#include "TestSupport.h"
#include "TransportSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace vantrel {
namespace {

using namespace test;

// ffprobe's compact lines as fields: "key=value|key=value|".
std::vector<std::map<std::string, std::string>> FfprobeRecords(const std::string& Entries,
                                                               const std::string& File)
{
    std::vector<std::map<std::string, std::string>> Records;
    std::istringstream Lines(Ffprobe("-show_entries " + Entries + " -of compact=p=0", File));
    for (std::string Line; std::getline(Lines, Line);) {
        std::map<std::string, std::string> Fields;
        std::istringstream Parts(Line);
        for (std::string Part; std::getline(Parts, Part, '|');)
            if (const std::size_t Eq = Part.find('='); Eq != std::string::npos)
                Fields[Part.substr(0, Eq)] = Part.substr(Eq + 1);
        if (!Fields.empty())
            Records.push_back(Fields);
    }
    return Records;
}

const char* FfprobeCodec(const TStreamInfo& Stream)
{
    if (Stream.Kind == skVideo)
        return Stream.MPEGVersion == 4 ? "h264" : Stream.MPEGVersion == 2 ? "mpeg2video" : "mpeg1video";
    switch (Stream.AudioCodec) {
    case acMPEG: return Stream.AudioLayer == 2 ? "mp2" : "mp3";
    case acAC3: return "ac3";
    case acEAC3: return "eac3";
    case acAAC: return "aac";
    case acLATM: return "aac_latm";
    default: return "?";
    }
}

class ProbeTransportStream : public ::testing::TestWithParam<const char*>
{
};
TEST_P(ProbeTransportStream, AgreesWithFfprobe)
{
    const std::string File = Stream(GetParam());
    const TInputRecord Record = ProbeInput(File);
    const TMediaInfo& Info = Record.Info;
    EXPECT_EQ(Record.Kind, mfkTransportStream);
    EXPECT_EQ(KindText(Info), "transport stream");
    const std::string Name = GetParam();
    EXPECT_EQ(Info.PacketSize, Name == "ts_204.ts" ? 204 : Name.ends_with(".m2ts") ? 192 : 188);
    const auto Programs = FfprobeRecords("program=program_num,pmt_pid,pcr_pid:program_tags", File);
    ASSERT_EQ(Info.Programs.size(), Programs.size());
    std::map<int, std::map<std::string, std::string>> Streams;
    for (const auto& Fields : FfprobeRecords(
             "stream=id,codec_name,profile,level,sample_rate,channels,width,height,r_frame_rate:stream_tags",
             File))
        Streams[std::stoi(Fields.at("id"), nullptr, 16)] = Fields;
    std::size_t Count = 0;
    for (std::size_t I = 0; I < Programs.size(); ++I) {
        const TProgramInfo& Program = Info.Programs[I];
        EXPECT_EQ(std::to_string(Program.Number), Programs[I].at("program_num"));
        EXPECT_EQ(std::to_string(Program.PMTPID), Programs[I].at("pmt_pid"));
        EXPECT_EQ(std::to_string(Program.PCRPID), Programs[I].at("pcr_pid"));
        EXPECT_EQ(Program.Name,
                  Programs[I].count("tag:service_name") ? Programs[I].at("tag:service_name") : "");
        for (const TStreamInfo& Stream : Program.Streams) {
            ++Count;
            ASSERT_TRUE(Streams.count(Stream.PID)) << Stream.PID;
            const auto& F = Streams[Stream.PID];
            EXPECT_EQ(FfprobeCodec(Stream), F.at("codec_name")) << Stream.PID;
            if (Stream.Kind == skVideo) {
                EXPECT_EQ(std::to_string(Stream.Width), F.at("width"));
                EXPECT_EQ(std::to_string(Stream.Height), F.at("height"));
                // The rate of the headers, or of the stamps where they have none.
                const std::string& Rate = F.at("r_frame_rate");
                EXPECT_DOUBLE_EQ(Stream.FrameRate,
                                 std::stod(Rate) / std::stod(Rate.substr(Rate.find('/') + 1)))
                    << Rate;
                // H.264's profile and level as the list shows them.
                if (Stream.MPEGVersion == 4) {
                    TMediaInfo Video;
                    CopyVideoFields(Stream, Video);
                    const int Level = std::stoi(F.at("level"));
                    EXPECT_EQ(VideoDetailText(Video), F.at("profile") + "@" + std::to_string(Level / 10) +
                                                          "." + std::to_string(Level % 10));
                }
            } else {
                EXPECT_EQ(std::to_string(Stream.SampleRate), F.at("sample_rate"));
                EXPECT_EQ(std::to_string(Stream.AudioChannels + Stream.LowFrequency), F.at("channels"));
            }
            EXPECT_EQ(Stream.Languages.empty() ? "" : Stream.Languages.front(),
                      F.count("tag:language") ? F.at("tag:language") : "");
        }
    }
    EXPECT_EQ(Count, Streams.size());
    // The first sound stream is the record's, as in a program stream.
    EXPECT_EQ(Info.HasAudio, std::any_of(Streams.begin(), Streams.end(), [](const auto& S) {
                  return S.second.count("sample_rate") && S.second.at("sample_rate") != "N/A";
              }));
    EXPECT_NEAR(Info.Duration, Duration(File), 0.05);
}
INSTANTIATE_TEST_SUITE_P(Ffmpeg, ProbeTransportStream,
                         ::testing::Values("ts_mp2.ts", "ts_ac3.ts", "ts_cbr.ts", "ts_m2ts.m2ts", "ts_204.ts",
                                           "ts_pids.ts", "ts_pmtv1.ts", "ts_wrap.ts", "ts_rec.ts",
                                           "ts_aac.ts", "ts_latm.ts", "ts_eac3.ts", "ts_mux.ts",
                                           "hd_720p50_1.ts", "hd_1080i25_1.ts", "avchd_1080i50_1.m2ts",
                                           "avchd_1080i60_1.m2ts", "h264_notiming_1.ts"),
                         [](const auto& Info) {
                             std::string Name = Info.param;
                             return Name.substr(0, Name.find('.'));
                         });

// The pieces of a recording cut as recorders cut it probe as the whole
// does: at an odd byte, at a packet's end, with the first packets of the
// next repeated.
TEST(ProbeTransportStream, PiecesOfARecording)
{
    const TBytes Whole = ReadFile(Stream("ts_rec.ts"));
    TMemorySource WholeSource(Whole);
    TMediaInfo Reference;
    ProbeMediaFile(WholeSource, Reference);
    const std::size_t Third = Whole.size() / 3;
    const std::vector<std::pair<std::size_t, std::size_t>> Pieces = {
        {0, Third + 77},                                   // ends in a packet
        {Third + 77, 2 * Third / 188 * 188},               // starts in one, ends at one's end
        {2 * Third / 188 * 188 - 188 * 40, Whole.size()}}; // repeats the forty packets before it
    double Total = 0;
    for (const auto& [From, To] : Pieces) {
        const TBytes Piece(Whole.begin() + From, Whole.begin() + To);
        TMemorySource Source(Piece);
        EXPECT_EQ(GetMediaFileKind(Source), mfkTransportStream);
        TMediaInfo Info;
        ProbeMediaFile(Source, Info);
        EXPECT_EQ(CompareMediaInfo(Reference, Info), fmSame) << From;
        EXPECT_TRUE(SameFormat(Reference, Info)) << From;
        EXPECT_EQ(AudioText(Info), AudioText(Reference));
        Total += Info.Duration;
    }
    EXPECT_NEAR(Total, Reference.Duration + 40 * 188.0 * 8 / 5e6, 0.3);
}

// A source of Size bytes that repeats a file's whole packets, counting
// what is read of it.
class TRepeatingSource : public TByteSource
{
public:
    TRepeatingSource(const TBytes& File, std::int64_t Size)
        : m_File(File), m_Period(static_cast<std::int64_t>(File.size() / 188 * 188)), m_Size(Size)
    {
    }
    std::int64_t Size() const override { return m_Size; }
    std::uint32_t Read(void* Dest, std::uint32_t Count, std::int64_t Position) override
    {
        const auto N = static_cast<std::uint32_t>(std::clamp<std::int64_t>(m_Size - Position, 0, Count));
        for (std::uint32_t I = 0; I < N; ++I)
            static_cast<std::uint8_t*>(Dest)[I] = m_File[(Position + I) % m_Period];
        BytesRead += N;
        return N;
    }
    std::int64_t BytesRead = 0;

private:
    const TBytes& m_File;
    std::int64_t m_Period, m_Size;
};

TEST(ProbeTransportStream, ReadsAFileOfGigabytesAtItsEndsOnly)
{
    const TBytes File = ReadFile(Stream("ts_ac3.ts"));
    TRepeatingSource Source(File, std::int64_t{5} << 30);
    TMediaInfo Info;
    ProbeMediaFile(Source, Info);
    EXPECT_EQ(Info.Width, 720);
    ASSERT_EQ(Info.Programs.size(), 1u);
    EXPECT_EQ(Info.Programs[0].Streams.size(), 3u);
    EXPECT_GT(Info.Duration, 0);
    // The head until every stream's format and the channel's name are in,
    // and the tail's two megabytes.
    EXPECT_LT(Source.BytesRead, 8 << 20);
}

// ts_mp2.ts with its packets of a PID changed.
TBytes WithPackets(std::uint16_t PID, const std::function<void(TBytes& Packet)>& Change)
{
    const TBytes File = ReadFile(Stream("ts_mp2.ts"));
    TBytes Result;
    for (TBytes Packet : TSPackets(File)) {
        if ((((Packet[1] & 0x1F) << 8) | Packet[2]) == PID)
            Change(Packet);
        Result.insert(Result.end(), Packet.begin(), Packet.end());
    }
    return Result;
}

// A PMT packet of ts_mp2.ts whose video is said to be HEVC (stream type
// 0x24), its CRC made anew.
void AsHEVC(TBytes& Packet)
{
    std::uint8_t* S = &Packet[5 + Packet[4]];
    const std::size_t Length = 3 + (((S[1] & 0x0F) << 8) | S[2]);
    for (std::size_t I = 12 + (((S[10] & 0x0F) << 8) | S[11]); I + 5 <= Length - 4;
         I += 5 + (((S[I + 3] & 0x0F) << 8) | S[I + 4]))
        S[I] = S[I] == 0x02 ? 0x24 : S[I];
    const std::uint32_t Crc = SectionCrc(S, Length - 4);
    for (int K = 0; K < 4; ++K)
        S[Length - 4 + K] = static_cast<std::uint8_t>(Crc >> (24 - 8 * K));
}

TEST(ProbeTransportStream, Refusals)
{
    const auto Null = [](TBytes& Packet) { Packet[1] = 0x1F, Packet[2] = 0xFF; };
    const struct
    {
        const char* Name;
        TBytes Bytes;
        const char* Message;
    } Cases[] = {
        {"HEVC", WithPackets(0x1000, AsHEVC), "This file's video is H.265, which cannot be joined yet."},
        {"Scrambled", WithPackets(0x100, [](TBytes& P) { P[3] |= 0x80; }),
         "This file's video is scrambled and cannot be read."},
        {"NoPAT", WithPackets(0, Null), "Unable to find the programs of this transport stream."},
        {"NoVideoPackets", WithPackets(0x100, Null), "Unable to read video settings"},
    };
    for (const auto& Case : Cases) {
        TMemorySource Source(Case.Bytes);
        TMediaInfo Info;
        try {
            ProbeMediaFile(Source, Info);
            ADD_FAILURE() << Case.Name << " probed";
        } catch (const Exception& E) {
            EXPECT_STREQ(E.what(), Case.Message) << Case.Name;
        }
    }
}

TEST(ProbeTransportStream, SubtitlesAndTeletextWithTheirLanguages)
{
    // The PMT says more than ffmpeg wrote: subtitles in two languages and
    // teletext, whose packets are not in the file.
    const TBytes Subtitles = {0x59, 16, 'd', 'e', 'u', 0x10, 0, 1, 0, 1, 'e', 'n', 'g', 0x10, 0, 2, 0, 2};
    const TBytes Teletext = {0x56, 5, 'f', 'r', 'a', 0x09, 0x00};
    const TBytes PMT = Section(0x02, 1, 0,
                               PMTBody(0x100, {{0x02, 0x100, {}},
                                               {0x03, 0x101, {0x0A, 4, 'd', 'e', 'u', 0}},
                                               {0x06, 0x120, Subtitles},
                                               {0x06, 0x121, Teletext}}));
    const TBytes File = WithPackets(0x1000, [&](TBytes& P) {
        const TBytes Payload = Concat({{0}, PMT, Filled(184 - 1 - PMT.size(), 0xFF)});
        std::copy(Payload.begin(), Payload.end(), P.begin() + 4);
    });
    TMemorySource Source(File);
    TMediaInfo Info;
    ProbeMediaFile(Source, Info);
    ASSERT_EQ(Info.Programs.size(), 1u);
    const std::vector<TStreamInfo>& Streams = Info.Programs[0].Streams;
    ASSERT_EQ(Streams.size(), 4u);
    EXPECT_EQ(Streams[2].Kind, skSubtitles);
    EXPECT_EQ(Streams[2].Languages, (std::vector<std::string>{"deu", "eng"}));
    EXPECT_EQ(Streams[3].Kind, skTeletext);
    EXPECT_EQ(TransportText(Info),
              "program 1 \"Vantrel Eins\" (PMT PID 4096, PCR PID 256), 188-byte packets\n"
              "  PID 256: MPEG-2 video 720 x 576 25.00 fps 16:9\n"
              "  PID 257: Layer II 48 kHz stereo 192 kbit/s, deu\n"
              "  PID 288: DVB subtitles, deu eng\n"
              "  PID 289: teletext, fra");
    const std::string Json = InfoJson("f.ts", Info, Info);
    EXPECT_NE(
        Json.find("{\"pid\": 288, \"stream_type\": 6, \"kind\": \"subtitles\", \"codec\": \"DVB subtitles\", "
                  "\"languages\": [\"deu\", \"eng\"]}"),
        std::string::npos)
        << Json;
    EXPECT_NE(
        Json.find("\"packet_size\": 188, \"program\": 1, \"programs\": [{\"number\": 1, \"name\": \"Vantrel "
                  "Eins\", \"provider\": \"Zentrova\", \"pmt_pid\": 4096, \"pcr_pid\": 256"),
        std::string::npos)
        << Json;
}

// The join rules of transport streams: a channel's recordings join with
// each other whatever their PIDs and table versions; another sound, another
// container or packet size, other programs do not.
TEST(CompareMediaInfo, TransportStreams)
{
    std::map<std::string, TMediaInfo> Infos;
    for (const char* Name : {"ts_ac3.ts", "ts_pids.ts", "ts_pmtv1.ts", "ts_cbr.ts", "ts_mp2.ts",
                             "ts_m2ts.m2ts", "ts_mux.ts", "ts_eac3.ts", "dvd_pal1.vob"})
        ProbeMediaFile(Stream(Name), Infos[Name]);
    const struct
    {
        const char *Reference, *Other;
        TFormatMatch Match;
        const char* Difference;
    } Cases[] = {
        {"ts_ac3.ts", "ts_pids.ts", fmSame, ""},
        {"ts_ac3.ts", "ts_pmtv1.ts", fmSame, ""},
        {"ts_ac3.ts", "ts_cbr.ts", fmSame, ""},
        {"ts_ac3.ts", "ts_mp2.ts", fmAudioDiffers,
         "Audio differs from the first file: Layer II vs Layer II + AC-3"},
        {"ts_ac3.ts", "ts_m2ts.m2ts", fmVideoDiffers,
         "Video differs from the first file: 192-byte packets vs 188-byte packets"},
        {"ts_ac3.ts", "dvd_pal1.vob", fmVideoDiffers,
         "Video differs from the first file: program stream vs transport stream"},
        {"ts_mux.ts", "ts_mux.ts", fmSame, ""},
        {"ts_mux.ts", "ts_ac3.ts", fmVideoDiffers, "Programs differ from the first file: 1 vs 1, 2"},
    };
    for (const auto& Case : Cases) {
        const TMediaInfo &A = Infos[Case.Reference], &B = Infos[Case.Other];
        EXPECT_EQ(CompareMediaInfo(A, B), Case.Match) << Case.Reference << " " << Case.Other;
        const std::string Difference = DifferenceText(A, B);
        EXPECT_EQ(Difference.substr(0, Difference.find('\n')), Case.Difference)
            << Case.Reference << " " << Case.Other;
    }
    // One program chosen out of a multiplex is a file of that program alone.
    const std::optional<TMediaInfo> Two = SelectProgram(Infos["ts_mux.ts"], 2);
    ASSERT_TRUE(Two);
    EXPECT_EQ(Two->Width, 352);
    EXPECT_EQ(Two->Programs.size(), 1u);
    EXPECT_EQ(CompareMediaInfo(*Two, *SelectProgram(Infos["ts_mux.ts"], 2)), fmSame);
    EXPECT_EQ(CompareMediaInfo(*Two, Infos["ts_mp2.ts"]), fmVideoDiffers);
    EXPECT_FALSE(SelectProgram(Infos["ts_mux.ts"], 3));
    // The same channel on other PIDs joins; other sound is refused, since
    // a transport stream's video alone would need tables of its own.
    EXPECT_EQ(DecideJoin(std::vector<const TMediaInfo*>{&Infos["ts_ac3.ts"], &Infos["ts_pids.ts"]}).Verdict,
              TJoinVerdict::Join);
    const TJoinDecision Decision =
        DecideJoin(std::vector<const TMediaInfo*>{&Infos["ts_ac3.ts"], &Infos["ts_mp2.ts"]});
    EXPECT_EQ(Decision.Verdict, TJoinVerdict::Refuse);
    EXPECT_EQ(Decision.Message, TransportSoundMessage);
    // A multiplex with a program of HEVC video is named and refused; one
    // of H.264 joins.
    TMediaInfo WithHEVC = Infos["ts_mux.ts"], WithH264 = WithHEVC;
    WithHEVC.Programs.back().Streams.front().Coding = scHEVC;
    WithH264.Programs.back().Streams.front().Coding = scH264;
    EXPECT_EQ(DecideJoin(std::vector<const TMediaInfo*>{&WithHEVC, &WithHEVC}).Message,
              "Joining transport streams of H.265 video is not possible yet.");
    EXPECT_EQ(DecideJoin(std::vector<const TMediaInfo*>{&WithH264, &WithH264}).Verdict, TJoinVerdict::Join);
    EXPECT_EQ(DecideJoin(std::vector<const TMediaInfo*>{&Infos["ts_ac3.ts"], &Infos["dvd_pal1.vob"]}).Message,
              VideoDiffersMessage);
}

} // namespace
} // namespace vantrel
