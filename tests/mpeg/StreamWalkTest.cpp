// Walks the real test streams and checks what the reader sees against an
// independent walk of the whole file in memory and against ffmpeg's demuxer.
#include "mpeg/ps/ProgramStreamReader.h"

#include "StreamChecks.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace vantrel {
namespace {

using namespace test;

struct TPacketCounts
{
    int PackHeaders = 0;
    int SystemHeaders = 0;
    std::map<int, int> PESByStream;
    std::int64_t PacketBytes = 0;
    bool operator==(const TPacketCounts&) const = default;
};

// The independent walk of TestSupport, counted.
TPacketCounts CountInMemory(const TBytes& File)
{
    TPacketCounts Counts;
    for (const TBytes& Packet : SplitPackets(File)) {
        if (Packet[3] == 0xBA)
            ++Counts.PackHeaders;
        else if (Packet[3] == 0xBB)
            ++Counts.SystemHeaders;
        else
            ++Counts.PESByStream[Packet[3]];
        Counts.PacketBytes += static_cast<std::int64_t>(Packet.size());
    }
    return Counts;
}

struct TReaderWalk
{
    TPacketCounts Counts;
    std::int64_t Skipped = 0;
    std::int64_t FileSize = 0;
    TBytes VideoPayload;
};

TReaderWalk WalkWithReader(const std::string& Name)
{
    TReaderWalk Walk;
    TProgramStreamReader Reader;
    Reader.Open(Name);
    Walk.FileSize = Reader.FileSize();
    std::int64_t End = 0;
    TBytes Buffer;
    while (Reader.NextPacket()) {
        EXPECT_GE(Reader.PacketPosition(), End) << "packets overlap";
        Walk.Skipped += Reader.PacketPosition() - End;
        End = Reader.PacketPosition() + Reader.PacketLength();
        Walk.Counts.PacketBytes += Reader.PacketLength();
        switch (Reader.PacketKind()) {
        case pkPackHeader: ++Walk.Counts.PackHeaders; break;
        case pkSystemHeader: ++Walk.Counts.SystemHeaders; break;
        case pkPES:
            ++Walk.Counts.PESByStream[Reader.PES().StreamId];
            if (Reader.PES().StreamId == 0xE0) {
                Buffer.resize(Reader.PES().PayloadLength);
                EXPECT_TRUE(Reader.ReadPayload(Buffer.data()));
                Walk.VideoPayload.insert(Walk.VideoPayload.end(), Buffer.begin(), Buffer.end());
            }
            break;
        }
    }
    Walk.Skipped += Walk.FileSize - End;
    return Walk;
}

class RealStreamWalk : public ::testing::TestWithParam<const char*>
{
};

TEST_P(RealStreamWalk, AgreesWithAnIndependentWalkAndWithFfmpeg)
{
    const std::string Name = Stream(GetParam());
    const TReaderWalk Walk = WalkWithReader(Name);
    const TPacketCounts Expected = CountInMemory(ReadFile(Name));

    EXPECT_EQ(Walk.Counts.PackHeaders, Expected.PackHeaders);
    EXPECT_EQ(Walk.Counts.SystemHeaders, Expected.SystemHeaders);
    EXPECT_EQ(Walk.Counts.PESByStream, Expected.PESByStream);
    EXPECT_EQ(Walk.Counts.PacketBytes + Walk.Skipped, Walk.FileSize);
    EXPECT_GT(Walk.Counts.PackHeaders, 0);
    EXPECT_GT(Walk.Counts.PESByStream.count(0xE0), 0u);

    // ffmpeg's demuxer copies the video elementary stream out byte for byte:
    // it must equal the 0xE0 payloads the reader delivers.
    TTempDir Dir;
    const std::string Video = Dir.File("video.m1v");
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -i " + Quote(Name) + " -map 0:v:0 -c copy -f mpeg1video " +
                         Quote(Video)),
              0);
    EXPECT_TRUE(ReadFile(Video) == Walk.VideoPayload) << "video payload differs from ffmpeg's";
}

INSTANTIATE_TEST_SUITE_P(Muxers, RealStreamWalk,
                         ::testing::Values("ff_pal.mpg", "ff_pal_b.mpg", "ff_pal_mp3.mpg",
                                           "ff_pal_noaudio.mpg", "ff_vcd.mpg", "mplex_vcd.mpg",
                                           "mplex_vcd_b.mpg", "mplex_generic.mpg"),
                         [](const auto& Info) {
                             std::string Name = Info.param;
                             return Name.substr(0, Name.find('.'));
                         });

TEST(RealStreamWalkMplex, VcdStreamsCarryPaddingAndTwoSystemHeaders)
{
    const TReaderWalk Walk = WalkWithReader(Stream("mplex_vcd.mpg"));
    EXPECT_EQ(Walk.Counts.SystemHeaders, 2);
    EXPECT_GT(Walk.Counts.PESByStream.at(0xBE), 0);
    EXPECT_GT(Walk.Counts.PESByStream.at(0xC0), 0);
}

} // namespace
} // namespace vantrel
