#include "mpeg/audio/MPEGAudio.h"

namespace vantrel {

bool DecodeAudioFrameHeader(std::uint32_t HeaderWord, TAudioFrameHeader& Header)
{
    const std::uint8_t B0 = HeaderWord & 0xFF;
    const std::uint8_t B1 = (HeaderWord >> 8) & 0xFF;
    const std::uint8_t B2 = (HeaderWord >> 16) & 0xFF;
    const std::uint8_t B3 = (HeaderWord >> 24) & 0xFF;

    // Sync: 11 set bits, b0 and 111xxxxx of b1.
    if (B0 != 0xFF || (B1 & 0xE0) != 0xE0)
        return false;
    // b1 xxxVVxxx: 11 MPEG-1, 10 MPEG-2, 00 MPEG-2.5, 01 reserved.
    switch ((B1 >> 3) & 3) {
    case 3: Header.Version = 1; break;
    case 2: Header.Version = 2; break;
    case 0: Header.Version = 3; break;
    default: return false;
    }
    // b1 xxxxxLLx: 11 layer I, 10 layer II, 01 layer III, 00 reserved.
    switch ((B1 >> 1) & 3) {
    case 3: Header.Layer = 1; break;
    case 2: Header.Layer = 2; break;
    case 1: Header.Layer = 3; break;
    default: return false;
    }
    // b2 BBBBSSPx: bit-rate index, sampling-rate index, padding, private.
    Header.BitRate = AudioBitRates[Header.Version - 1][Header.Layer - 1][B2 >> 4] * 1000;
    if (Header.BitRate <= 0)
        return false;
    Header.SampleRate = AudioSampleRates[Header.Version - 1][(B2 >> 2) & 3];
    if (Header.SampleRate < 0)
        return false;
    const bool Padded = (B2 & 0x02) != 0;
    const std::int32_t Padding = Padded ? (Header.Layer == 1 ? 4 : 1) : 0;
    // b3 MMxxxxxx: channel mode.
    Header.ChannelMode = B3 >> 6;

    const std::int32_t Coefficient = Header.Layer == 1 ? 48 : 144;
    Header.FrameLength = Padding + static_cast<std::int32_t>(
                                       static_cast<double>(Header.BitRate * Coefficient) / Header.SampleRate);
    Header.FrameDuration = (Header.Layer == 1 ? 384.0 : 1152.0) / Header.SampleRate;
    return true;
}

namespace {

bool DecodeAt(const std::uint8_t* B, TAudioFrameHeader& Header)
{
    const std::uint32_t Word = B[0] | (B[1] << 8) | (B[2] << 16) | (static_cast<std::uint32_t>(B[3]) << 24);
    return DecodeAudioFrameHeader(Word, Header);
}

bool SameStream(const TAudioFrameHeader& A, const TAudioFrameHeader& B)
{
    return A.Version == B.Version && A.Layer == B.Layer && A.SampleRate == B.SampleRate &&
           A.ChannelMode == B.ChannelMode;
}

} // namespace

std::optional<std::size_t> FindAudioFrameHeader(std::span<const std::uint8_t> Data, TAudioFrameHeader& Header)
{
    const std::size_t Size = Data.size();
    std::optional<std::size_t> Unconfirmed;
    TAudioFrameHeader Candidate, Next, Lone;
    for (std::size_t At = 0; At + 4 <= Size; ++At) {
        if (!DecodeAt(Data.data() + At, Candidate))
            continue;
        const std::size_t NextAt = At + static_cast<std::size_t>(Candidate.FrameLength);
        if (NextAt + 4 <= Size) {
            if (DecodeAt(Data.data() + NextAt, Next) && SameStream(Candidate, Next)) {
                Header = Candidate;
                return At;
            }
        } else if (!Unconfirmed) {
            Unconfirmed = At;
            Lone = Candidate;
        }
    }
    if (Unconfirmed)
        Header = Lone;
    return Unconfirmed;
}

std::size_t FindFrameOf(const TAudioFrameHeader& Like, const std::uint8_t* Data, std::size_t Size)
{
    TAudioFrameHeader Candidate, Next;
    for (std::size_t At = 0; At + 4 <= Size; ++At) {
        if (!DecodeAt(Data + At, Candidate) || !SameStream(Candidate, Like))
            continue;
        const std::size_t NextAt = At + static_cast<std::size_t>(Candidate.FrameLength);
        if (NextAt + 4 > Size || (DecodeAt(Data + NextAt, Next) && SameStream(Next, Like)))
            return At;
    }
    return Size;
}

} // namespace vantrel
