// AAC as ffmpeg's encoder writes it: ADTS frames, and LATM in LOAS frames
// that carry their configuration.
#include "mpeg/audio/AAC.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

TEST(ADTSHeader, WalksEveryFrameOfARealStream)
{
    const TBytes Bytes = ReadFile(Stream("ff_stereo.aac"));
    std::size_t At = 0, Frames = 0;
    while (At < Bytes.size()) {
        const auto Header = DecodeADTSHeader(std::span(Bytes).subspan(At));
        ASSERT_TRUE(Header) << "at " << At;
        EXPECT_EQ(Header->ObjectType, 2); // LC
        EXPECT_EQ(Header->SampleRate, 48000u);
        EXPECT_EQ(Header->Channels(), 2);
        EXPECT_FALSE(Header->LowFrequency());
        EXPECT_EQ(Header->Samples, 1024u);
        At += Header->FrameLength;
        ++Frames;
    }
    EXPECT_EQ(At, Bytes.size());
    // A second at 48 kHz, and the encoder's priming frame.
    EXPECT_NEAR(Frames, 48000 / 1024 + 1, 2);
}

TEST(ADTSHeader, FieldsAndRefusals)
{
    // FF F1 | profile 1 (LC), rate 3 (48 kHz), channels 6 | length 0x123, 2 raw blocks.
    const TBytes Good = {0xFF, 0xF1, 0x4D, 0x80, 0x24, 0x7F, 0xFE};
    const auto Header = DecodeADTSHeader(Good);
    ASSERT_TRUE(Header);
    EXPECT_EQ(Header->ObjectType, 2);
    EXPECT_EQ(Header->SampleRate, 48000u);
    EXPECT_EQ(Header->ChannelConfiguration, 6);
    EXPECT_EQ(Header->Channels(), 5);
    EXPECT_TRUE(Header->LowFrequency());
    EXPECT_EQ(Header->FrameLength, 0x123u);
    EXPECT_EQ(Header->Samples, 3 * 1024u);
    TBytes Bad[] = {Good, Good, Good, Good};
    Bad[0][1] = 0xF7;                                  // layer 11
    Bad[1][2] = 0x7D;                                  // rate index 15
    Bad[2][3] = 0x80, Bad[2][4] = 0, Bad[2][5] = 0xDF; // a length of 6, shorter than the header
    Bad[3].resize(6);
    for (const TBytes& Bytes : Bad)
        EXPECT_FALSE(DecodeADTSHeader(Bytes));
}

TEST(LATMConfig, WalksEveryFrameOfARealStream)
{
    const TBytes Bytes = ReadFile(Stream("ff_51.latm"));
    std::size_t At = 0, Frames = 0, Configs = 0;
    while (At < Bytes.size()) {
        const std::span<const std::uint8_t> Frame = std::span(Bytes).subspan(At);
        const auto Length = LOASFrameLength(Frame);
        ASSERT_TRUE(Length) << "at " << At;
        if (const auto Config = DecodeLATMConfig(Frame)) {
            EXPECT_EQ(Config->ObjectType, 2);
            EXPECT_EQ(Config->SampleRate, 48000u);
            EXPECT_EQ(Config->Channels(), 5);
            EXPECT_TRUE(Config->LowFrequency());
            EXPECT_EQ(Config->Samples, 1024u);
            EXPECT_EQ(Config->FrameLength, *Length);
            ++Configs;
        }
        At += *Length;
        ++Frames;
    }
    EXPECT_EQ(At, Bytes.size());
    EXPECT_NEAR(Frames, 48000 / 1024 + 1, 2);
    // The first frame carries one, and others now and then.
    EXPECT_TRUE(DecodeLATMConfig(Bytes));
    EXPECT_GE(Configs, 2u);
}

TEST(LATMConfig, ExplicitSBRGivesTheOutputRate)
{
    // 56 E0 len | useSameStreamMux 0, version 0, allStreamsSameTimeFraming 1,
    // numSubFrames 0, numProgram 0, numLayer 0, then the config: object
    // type 5 (SBR), 24 kHz (6), 2 channels, extension rate 48 kHz (3),
    // object type 2.
    TBytes Bits;
    std::uint64_t Value = 0;
    int Count = 0;
    const auto Put = [&](std::uint64_t V, int N) { Value = (Value << N) | V, Count += N; };
    Put(0, 1), Put(0, 1), Put(1, 1), Put(0, 6), Put(0, 4), Put(0, 3);
    Put(5, 5), Put(6, 4), Put(2, 4), Put(3, 4), Put(2, 5);
    Value <<= 64 - Count;
    for (int I = 0; I < (Count + 7) / 8; ++I)
        Bits.push_back(static_cast<std::uint8_t>(Value >> (56 - 8 * I)));
    const TBytes Frame = Concat({{0x56, 0xE0, static_cast<std::uint8_t>(Bits.size())}, Bits});
    const auto Config = DecodeLATMConfig(Frame);
    ASSERT_TRUE(Config);
    EXPECT_EQ(Config->ObjectType, 5);
    EXPECT_EQ(Config->SampleRate, 48000u);
    EXPECT_EQ(Config->Samples, 2048u); // 1024 of the core's, at twice its rate
    EXPECT_EQ(Config->Channels(), 2);
    // useSameStreamMux 1: the frame uses the configuration before it.
    TBytes Same = Frame;
    Same[3] |= 0x80;
    EXPECT_FALSE(DecodeLATMConfig(Same));
    EXPECT_EQ(LOASFrameLength(Same), Frame.size());
    EXPECT_FALSE(LOASFrameLength(TBytes{0x56, 0xC0, 0x01}));
}

} // namespace
} // namespace vantrel
