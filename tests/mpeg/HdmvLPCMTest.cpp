// The LPCM header of AVCHD and Blu-ray transport streams, packet by packet
// as ffmpeg's muxer writes it, and by its codes.
#include "mpeg/audio/HdmvLPCM.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

// ffmpeg hands out each PES payload whole, header first: every one decodes,
// and the sizes they give tile the stream.
TEST(HdmvLPCMHeader, WalksEveryPacketOfARealStream)
{
    TTempDir Dir;
    const std::string Payloads = Dir.File("lpcm.bin");
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -i " + Quote(Stream("avchd_lpcm.m2ts")) +
                         " -map 0:a -c copy -f data " + Quote(Payloads)),
              0);
    const TBytes Bytes = ReadFile(Payloads);
    std::size_t At = 0, Packets = 0;
    while (At < Bytes.size()) {
        const auto Header = DecodeHdmvLPCMHeader(std::span(Bytes).subspan(At));
        ASSERT_TRUE(Header) << "at " << At;
        EXPECT_EQ(Header->SampleRate, 48000u);
        EXPECT_EQ(Header->Bits, 24);
        EXPECT_EQ(Header->Channels, 6);
        EXPECT_TRUE(Header->LowFrequency);
        EXPECT_EQ(Header->BitRate(), 6912000u); // what ffprobe reports
        At += 4 + Header->PayloadSize;
        ++Packets;
    }
    EXPECT_EQ(At, Bytes.size());
    EXPECT_EQ(Packets, 134u); // a second in packets of 360 samples, the last one whole
}

TEST(HdmvLPCMHeader, ReadsItsCodes)
{
    const struct
    {
        TBytes Bytes;
        std::uint16_t Size;
        std::uint32_t Rate;
        std::uint8_t Bits, Channels, Coded;
        std::uint32_t BitRate;
    } Cases[] = {
        {{0x03, 0xC0, 0x31, 0x40}, 960, 48000, 16, 2, 2, 1536000},  // stereo, as ffmpeg writes it
        {{0x01, 0x00, 0x14, 0x80}, 256, 96000, 20, 1, 2, 4608000},  // mono: a pair with an empty channel
        {{0x00, 0x10, 0xB5, 0xC0}, 16, 192000, 24, 8, 8, 36864000}, // 3/4+LFE
        {{0x00, 0x10, 0xA1, 0x7F}, 16, 48000, 16, 7, 8, 6144000},   // reserved bits ignored
    };
    for (const auto& C : Cases) {
        const auto Header = DecodeHdmvLPCMHeader(C.Bytes);
        ASSERT_TRUE(Header) << int(C.Bytes[2]);
        EXPECT_EQ(Header->PayloadSize, C.Size);
        EXPECT_EQ(Header->SampleRate, C.Rate);
        EXPECT_EQ(Header->Bits, C.Bits);
        EXPECT_EQ(Header->Channels, C.Channels);
        EXPECT_EQ(Header->CodedChannels(), C.Coded);
        EXPECT_EQ(Header->BitRate(), C.BitRate);
    }
    const TBytes Reserved[] = {{0x03, 0xC0, 0x21, 0x40}, // channel assignment 2
                               {0x03, 0xC0, 0x32, 0x40}, // sampling frequency 2
                               {0x03, 0xC0, 0x31, 0x00}, // bits per sample 0
                               {0x03, 0xC0, 0x31}};      // cut short
    for (const TBytes& Bytes : Reserved)
        EXPECT_FALSE(DecodeHdmvLPCMHeader(Bytes));
}

} // namespace
} // namespace vantrel
