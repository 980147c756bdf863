// AC-3 sync frames and DTS core frames as ffmpeg's encoders write them,
// frame by frame.
#include "mpeg/audio/AC3.h"
#include "mpeg/audio/DTS.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

// Every frame of the stream decodes, and the frames tile it exactly.
TEST(AC3FrameHeader, WalksEveryFrameOfRealStreams)
{
    const struct
    {
        const char* Name;
        std::uint32_t SampleRate, BitRate;
        const char* Channels;
    } Cases[] = {{"ff_51.ac3", 48000, 448000, "5.1"}, {"ff_stereo441.ac3", 44100, 192000, "stereo"}};
    for (const auto& Case : Cases) {
        const TBytes Bytes = ReadFile(Stream(Case.Name));
        std::size_t At = 0, Frames = 0;
        while (At < Bytes.size()) {
            const auto Header = DecodeAC3FrameHeader(std::span(Bytes).subspan(At));
            ASSERT_TRUE(Header) << Case.Name << " at " << At;
            EXPECT_EQ(Header->SampleRate, Case.SampleRate);
            EXPECT_EQ(Header->BitRate, Case.BitRate);
            EXPECT_EQ(AC3ChannelsText(*Header), Case.Channels);
            At += Header->FrameLength;
            ++Frames;
        }
        EXPECT_EQ(At, Bytes.size()) << Case.Name;
        EXPECT_GT(Frames, 20u) << Case.Name;
    }
}

// Enhanced AC-3: every frame decodes as one, not as AC-3, and the frames
// tile the stream; six blocks of 256 samples each at these rates.
TEST(EAC3FrameHeader, WalksEveryFrameOfRealStreams)
{
    const struct
    {
        const char* Name;
        std::uint32_t SampleRate, BitRate;
        const char* Channels;
    } Cases[] = {{"ff_51.eac3", 48000, 384000, "5.1"}, {"ff_stereo441.eac3", 44100, 96000, "stereo"}};
    for (const auto& Case : Cases) {
        const TBytes Bytes = ReadFile(Stream(Case.Name));
        std::size_t At = 0, Frames = 0;
        while (At < Bytes.size()) {
            const auto Frame = std::span(Bytes).subspan(At);
            EXPECT_FALSE(DecodeAC3FrameHeader(Frame)) << Case.Name << " at " << At;
            const auto Header = DecodeEAC3FrameHeader(Frame);
            ASSERT_TRUE(Header) << Case.Name << " at " << At;
            EXPECT_TRUE(Header->Enhanced);
            EXPECT_EQ(Header->StreamType, 0);
            EXPECT_EQ(Header->SampleRate, Case.SampleRate);
            EXPECT_EQ(Header->Samples, 1536u);
            // The bit rate as the frame size gives it, near the encoder's.
            EXPECT_NEAR(Header->BitRate, Case.BitRate, Case.BitRate / 50) << Case.Name;
            EXPECT_EQ(AC3ChannelsText(*Header), Case.Channels);
            At += Header->FrameLength;
            ++Frames;
        }
        EXPECT_EQ(At, Bytes.size()) << Case.Name;
        EXPECT_GT(Frames, 20u) << Case.Name;
    }
    // And AC-3 is not taken for enhanced AC-3.
    const TBytes AC3 = ReadFile(Stream("ff_51.ac3"));
    EXPECT_FALSE(DecodeEAC3FrameHeader(AC3));
}

TEST(EAC3FrameHeader, BlocksAndHalfRates)
{
    // 0B 77 | strmtyp 0, substream 0, frmsiz 0x0FF: 512 bytes | fscod,
    // numblkscod, acmod 2, lfeon | bsid 16.
    const struct
    {
        std::uint8_t RateAndBlocks;
        std::uint32_t SampleRate, Samples;
    } Cases[] = {{0x04, 48000, 256},  {0x14, 48000, 512},  {0x24, 48000, 768}, {0x34, 48000, 1536},
                 {0x74, 44100, 1536}, {0xC4, 24000, 1536}, {0xE4, 16000, 1536}};
    for (const auto& Case : Cases) {
        const TBytes Frame = {0x0B, 0x77, 0x00, 0xFF, Case.RateAndBlocks, 16 << 3};
        const auto Header = DecodeEAC3FrameHeader(Frame);
        ASSERT_TRUE(Header) << int(Case.RateAndBlocks);
        EXPECT_EQ(Header->FrameLength, 512u);
        EXPECT_EQ(Header->SampleRate, Case.SampleRate);
        EXPECT_EQ(Header->Samples, Case.Samples);
        EXPECT_EQ(Header->BitRate, 512u * 8 * Case.SampleRate / Case.Samples);
        EXPECT_EQ(AC3ChannelsText(*Header), "stereo");
    }
    // fscod 3 with fscod2 3 is reserved; bsid 10 is AC-3's.
    EXPECT_FALSE(DecodeEAC3FrameHeader(TBytes{0x0B, 0x77, 0x00, 0xFF, 0xF4, 16 << 3}));
    EXPECT_FALSE(DecodeEAC3FrameHeader(TBytes{0x0B, 0x77, 0x00, 0xFF, 0x34, 10 << 3}));
}

TEST(AC3FrameHeader, RefusesWhatIsNoHeader)
{
    const TBytes Good = {0x0B, 0x77, 0, 0, 0x1E, 0x40, 0xE1, 0};
    ASSERT_TRUE(DecodeAC3FrameHeader(Good)); // 48 kHz, 448 kbit/s, 3/2
    TBytes Bad[] = {Good, Good, Good, Good};
    Bad[0][1] = 0x78; // no sync word
    Bad[1][4] = 0xDE; // a reserved sample rate
    Bad[2][4] = 0x26; // a frame-size code past the table
    Bad[3].resize(7); // cut short
    for (const TBytes& Bytes : Bad)
        EXPECT_FALSE(DecodeAC3FrameHeader(Bytes));
}

TEST(DTSFrameHeader, WalksEveryFrameOfARealStream)
{
    const TBytes Bytes = ReadFile(Stream("ff_stereo48.dts"));
    std::size_t At = 0, Frames = 0;
    while (At < Bytes.size()) {
        const auto Header = DecodeDTSFrameHeader(std::span(Bytes).subspan(At));
        ASSERT_TRUE(Header) << "at " << At;
        EXPECT_EQ(Header->SampleRate, 48000u);
        EXPECT_EQ(Header->BitRate, 1411200u); // what ffprobe reports
        EXPECT_EQ(Header->Channels, 2);
        EXPECT_FALSE(Header->LowFrequency);
        EXPECT_EQ(Header->Samples, 512u);
        At += Header->FrameLength;
        ++Frames;
    }
    EXPECT_EQ(At, Bytes.size());
    EXPECT_EQ(Frames, 94u); // a second of 512-sample frames, the last one whole
    TBytes Cut(Bytes.begin(), Bytes.begin() + 10);
    EXPECT_FALSE(DecodeDTSFrameHeader(Cut));
}

} // namespace
} // namespace vantrel
