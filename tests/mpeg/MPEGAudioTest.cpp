#include "mpeg/audio/MPEGAudio.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

std::uint32_t WordOf(std::uint8_t B0, std::uint8_t B1, std::uint8_t B2, std::uint8_t B3)
{
    return B0 | (B1 << 8) | (B2 << 16) | (static_cast<std::uint32_t>(B3) << 24);
}

struct HeaderCase
{
    std::array<std::uint8_t, 4> Bytes;
    std::uint8_t Version, Layer;
    std::int32_t BitRate, SampleRate;
    std::uint8_t ChannelMode;
    std::int32_t FrameLength;
    double FrameDuration;
};
class AudioHeaderDecode : public ::testing::TestWithParam<HeaderCase>
{
};

TEST_P(AudioHeaderDecode, Decodes)
{
    const HeaderCase& C = GetParam();
    TAudioFrameHeader H;
    ASSERT_TRUE(DecodeAudioFrameHeader(WordOf(C.Bytes[0], C.Bytes[1], C.Bytes[2], C.Bytes[3]), H));
    EXPECT_EQ(H.Version, C.Version);
    EXPECT_EQ(H.Layer, C.Layer);
    EXPECT_EQ(H.BitRate, C.BitRate);
    EXPECT_EQ(H.SampleRate, C.SampleRate);
    EXPECT_EQ(H.ChannelMode, C.ChannelMode);
    EXPECT_EQ(H.FrameLength, C.FrameLength);
    EXPECT_DOUBLE_EQ(H.FrameDuration, C.FrameDuration);
}

// Frame lengths worked out from the standard: 144 * bit rate / sampling rate
// (layers II and III), 48 * bit rate / sampling rate (layer I), plus padding.
INSTANTIATE_TEST_SUITE_P(
    Iso11172And13818, AudioHeaderDecode,
    ::testing::Values(HeaderCase{{0xFF, 0xFD, 0xA0, 0x04}, 1, 2, 192000, 44100, 0, 626, 1152.0 / 44100},
                      HeaderCase{{0xFF, 0xFF, 0xC2, 0x00}, 1, 1, 384000, 44100, 0, 421, 384.0 / 44100},
                      HeaderCase{{0xFF, 0xF3, 0x80, 0xC0}, 2, 3, 64000, 22050, 3, 417, 1152.0 / 22050},
                      HeaderCase{{0xFF, 0xE3, 0x80, 0x40}, 3, 3, 64000, 11025, 1, 835, 1152.0 / 11025},
                      // 48 kHz layer II dual channel, padded: 144 * 224000 / 48000 + 1.
                      HeaderCase{{0xFF, 0xFD, 0xB6, 0x80}, 1, 2, 224000, 48000, 2, 673, 1152.0 / 48000},
                      // 32 kHz layer III joint stereo: 144 * 32000 / 32000.
                      HeaderCase{{0xFF, 0xFB, 0x18, 0x40}, 1, 3, 32000, 32000, 1, 144, 1152.0 / 32000}));

TEST(AudioHeaderDecode, RejectsInvalidFields)
{
    const std::array<std::uint8_t, 4> Rejected[] = {
        {0xFE, 0xFB, 0x90, 0x64}, // b0 not 0xFF
        {0xFF, 0xDB, 0x90, 0x64}, // sync bit missing in b1
        {0xFF, 0xEB, 0x90, 0x64}, // version '01'
        {0xFF, 0xF9, 0x90, 0x64}, // layer '00'
        {0xFF, 0xFB, 0x00, 0x64}, // bit-rate index 0 (free format)
        {0xFF, 0xFB, 0xF0, 0x64}, // bit-rate index 15
        {0xFF, 0xFB, 0x9C, 0x64}, // sampling-rate index 3
    };
    for (const auto& B : Rejected) {
        TAudioFrameHeader H;
        EXPECT_FALSE(DecodeAudioFrameHeader(WordOf(B[0], B[1], B[2], B[3]), H))
            << std::hex << int(B[0]) << ' ' << int(B[1]) << ' ' << int(B[2]);
    }
}

TEST(FindAudioFrameHeader, ALoneLastFrameIsTakenAsItIs)
{
    const std::uint8_t Bytes[] = {0x12, 0x34, 0xFF, 0xFB, 0x90, 0x64, 0xFF, 0xFD, 0xA0, 0x04};
    TAudioFrameHeader H;
    EXPECT_EQ(FindAudioFrameHeader(Bytes, H), 2u);
    EXPECT_EQ(H.Layer, 3);
    EXPECT_EQ(H.BitRate, 128000);
    EXPECT_EQ(H.SampleRate, 44100);
    EXPECT_EQ(H.ChannelMode, 1);
}

// Inside a frame, bit patterns decode as headers: only one that the next
// frame's header confirms counts.
TEST(FindAudioFrameHeader, TheNextFrameConfirmsAHeader)
{
    // Layer II, 192 kbit/s, 44.1 kHz, stereo: frames of 626 bytes.
    const test::TBytes Frame = test::Concat({{0xFF, 0xFD, 0xA0, 0x04}, test::Filled(622, 0x55)});
    // A false header (layer I, 48 kHz, mono) 10 bytes before a real frame.
    const test::TBytes False = {0xFF, 0xFF, 0xC4, 0xC0};
    const test::TBytes Bytes =
        test::Concat({test::Filled(7, 0x55), False, test::Filled(6, 0x55), Frame, Frame, Frame});
    TAudioFrameHeader H;
    EXPECT_EQ(FindAudioFrameHeader(Bytes, H), 7u + 4 + 6u);
    EXPECT_EQ(H.Layer, 2);
    EXPECT_EQ(H.SampleRate, 44100);
    EXPECT_EQ(H.ChannelMode, 0);
}

TEST(FindAudioFrameHeader, ShortOrHeaderlessStreamsYieldNothing)
{
    const std::vector<std::vector<std::uint8_t>> Cases = {
        {}, {0xFF, 0xFB, 0x90}, {0, 0, 0, 0xFF, 0xFB, 0x90}, {1, 2, 3, 4, 5, 6, 7, 8}};
    for (const auto& Bytes : Cases) {
        TAudioFrameHeader H;
        EXPECT_FALSE(FindAudioFrameHeader(Bytes, H)) << Bytes.size();
    }
}

} // namespace
} // namespace vantrel
