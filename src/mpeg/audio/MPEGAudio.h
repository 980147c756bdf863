// MPEG audio frame headers: MPEG-1 (ISO/IEC 11172-3), MPEG-2 lower sampling
// rates (ISO/IEC 13818-3) and MPEG-2.5, layers I to III, and the search for
// the first one in gathered payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

struct TAudioFrameHeader
{
    std::uint8_t Version = 0;     // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
    std::uint8_t Layer = 0;       // 1, 2 or 3
    std::int32_t SampleRate = 0;  // Hz
    std::int32_t BitRate = 0;     // bit/s
    std::uint8_t ChannelMode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    std::int32_t FrameLength = 0; // bytes, padding included
    double FrameDuration = 0;     // seconds
};

// kbit/s by [version - 1][layer - 1][bit-rate index]. Index 0 (free format)
// holds 0 and index 15 (forbidden) -1, so both are rejected.
constexpr std::int16_t AudioBitRates[3][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}},
};

// Hz by [version - 1][sampling-rate index]; index 3 is reserved.
constexpr std::int32_t AudioSampleRates[3][4] = {
    {44100, 48000, 32000, -1},
    {22050, 24000, 16000, -1},
    {11025, 12000, 8000, -1},
};

// HeaderWord holds the four header bytes as loaded little-endian from memory:
// b0 in bits 7-0, b1 in bits 15-8, b2 in 23-16, b3 in 31-24. True when they
// form a valid header; then every field of Header is filled in.
bool DecodeAudioFrameHeader(std::uint32_t HeaderWord, TAudioFrameHeader& Header);

// Searches every byte offset of Data for a frame header
// that the next one confirms: it must stand where this frame's length says,
// with the same version, layer, sampling rate and channel mode. A bit pattern
// inside a frame decodes as a header far too often to be trusted alone. When
// no header is confirmed, the first one whose successor would lie past the
// end of the data is taken (a lone last frame). Where the header found
// starts, with Header holding it; nothing when none was.
std::optional<std::size_t> FindAudioFrameHeader(std::span<const std::uint8_t> Data,
                                                TAudioFrameHeader& Header);

// Where the first frame of the stream that Like describes (same version,
// layer, sampling rate and channel mode) starts in Data, confirmed by the
// next frame's header when that lies within Data; Size when none does.
std::size_t FindFrameOf(const TAudioFrameHeader& Like, const std::uint8_t* Data, std::size_t Size);

} // namespace vantrel
