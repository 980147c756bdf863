// AC-3 sync frame headers (ATSC A/52, 5.3.1 and 5.4.1): the sound of most
// DVDs and many broadcasts; and those of enhanced AC-3 (A/52 annex E), which
// DVB's HD channels send.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vantrel {

struct TAC3FrameHeader
{
    std::uint32_t SampleRate = 0;  // Hz
    std::uint32_t BitRate = 0;     // bits per second
    std::uint8_t CodingMode = 0;   // acmod: 0 1+1, 1 mono, 2 stereo, 3 3/0, 4 2/1, 5 3/1, 6 2/2, 7 3/2
    bool LowFrequency = false;     // the .1 channel
    std::uint32_t FrameLength = 0; // bytes, header included
    std::uint32_t Samples = 1536;  // per channel: six blocks of 256, fewer in enhanced AC-3
    // Enhanced AC-3: strmtyp (0 independent, 1 dependent, 2 converted from
    // AC-3) and substreamid. A dependent substream adds channels to the
    // independent one before it and shares its time.
    bool Enhanced = false;
    std::uint8_t StreamType = 0;
    std::uint8_t SubstreamId = 0;
    // The full channels the coding mode carries (2 for 1+1), without the .1.
    std::uint8_t Channels() const
    {
        static constexpr std::uint8_t Full[] = {2, 1, 2, 3, 3, 4, 4, 5};
        return Full[CodingMode & 7];
    }
};

// The header of the sync frame at the start of Data (0B 77, CRC, then the
// rate codes and the channel mode); nothing when Data does not start with
// one, holds too few bytes, or its codes are reserved.
std::optional<TAC3FrameHeader> DecodeAC3FrameHeader(std::span<const std::uint8_t> Data);

// The header of an enhanced AC-3 sync frame (bsid 11 to 16) at the start of
// Data: 0B 77, strmtyp, substreamid, the 11-bit frame size in words less
// one, the rate codes and the block count, acmod, lfeon and bsid; nothing
// for a reserved rate, another bsid or too few bytes.
std::optional<TAC3FrameHeader> DecodeEAC3FrameHeader(std::span<const std::uint8_t> Data);

// The full channels and the low-frequency one: 2 for 1+1, 5.1 for 3/2 with
// the .1; "mono" and "stereo" for those without it.
std::string AC3ChannelsText(const TAC3FrameHeader& Header);

} // namespace vantrel
