// The start codes of MPEG streams and their video (ISO/IEC 11172-1 and -2,
// 13818-1 and -2), named once, and the scan that finds them across buffers:
// readers, the joiner and the tests take their codes from here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vantrel {

// A start code is 00 00 01 and a code byte.
constexpr std::uint8_t PictureStartCode = 0x00;
constexpr std::uint8_t SequenceHeaderCode = 0xB3;
constexpr std::uint8_t SequenceEndCode = 0xB7;
constexpr std::uint8_t GroupStartCode = 0xB8;
constexpr std::uint8_t ExtensionStartCode = 0xB5;
constexpr std::uint8_t EndCode = 0xB9;
constexpr std::uint8_t PackStartCode = 0xBA;
constexpr std::uint8_t SystemHeaderCode = 0xBB;
// Stream ids of PES packets (codes 0xBC and above).
constexpr std::uint8_t PaddingStream = 0xBE;
constexpr std::uint8_t PrivateStream2 = 0xBF;
constexpr std::uint8_t FirstAudioStream = 0xC0;
constexpr std::uint8_t LastAudioStream = 0xDF;
constexpr std::uint8_t FirstVideoStream = 0xE0;
constexpr std::uint8_t LastVideoStream = 0xEF;

constexpr bool IsAudioStream(std::uint8_t StreamId)
{
    return StreamId >= FirstAudioStream && StreamId <= LastAudioStream;
}
constexpr bool IsVideoStream(std::uint8_t StreamId)
{
    return StreamId >= FirstVideoStream && StreamId <= LastVideoStream;
}
// Every PES packet and system header: 00 00 01 id, a 16-bit length of what follows.
constexpr std::uint32_t PacketPrefixLength = 6;

// Finds start codes a byte at a time, across buffer boundaries. A prefix is
// the last two zeros of any run of zeros, then 01; every byte, a code byte
// included, also counts towards the next prefix, so 00 00 01 00 00 01 B3 holds
// two start codes (codes 00 and B3).
class TStartCodeScan
{
public:
    // True when Byte is the code byte of a start code.
    bool Feed(std::uint8_t Byte)
    {
        const bool IsCode = m_AfterPrefix;
        m_AfterPrefix = Byte == 1 && m_Zeros >= 2;
        m_Zeros = Byte == 0 ? std::min(m_Zeros + 1, 2) : 0;
        return IsCode;
    }
    void Reset() { *this = TStartCodeScan{}; }

private:
    int m_Zeros = 0;
    bool m_AfterPrefix = false;
};

// Calls OnCode(Index) for the index of every code byte of a start code in
// Data, continuing a scan over earlier buffers (a start code may straddle two
// payloads), until OnCode returns true. Past the first bytes it looks only at
// the 01 bytes. A stopped scan cannot be continued.
template <typename TOnCode>
void ForEachStartCode(const std::uint8_t* Data, std::size_t Size, TStartCodeScan& Scan, TOnCode OnCode)
{
    // A code byte among the first four may have its prefix in an earlier buffer.
    const std::size_t Head = std::min<std::size_t>(Size, 4);
    for (std::size_t I = 0; I < Head; ++I)
        if (Scan.Feed(Data[I]) && OnCode(I))
            return;
    if (Size <= Head)
        return;
    // From here on every prefix lies inside Data: look at each 01 whose code
    // byte (at 4 or later) is in Data too.
    for (const std::uint8_t *Pos = Data + 3, *Last = Data + Size - 1; Pos < Last;) {
        const auto* One =
            static_cast<const std::uint8_t*>(std::memchr(Pos, 1, static_cast<std::size_t>(Last - Pos)));
        if (!One)
            break;
        if (One[-1] == 0 && One[-2] == 0 && OnCode(static_cast<std::size_t>(One + 1 - Data)))
            return;
        Pos = One + 1;
    }
    // What a scan carries over depends on the last three bytes only.
    Scan.Reset();
    for (std::size_t I = Size - 3; I < Size; ++I)
        Scan.Feed(Data[I]);
}

// Counts the start codes with code byte Code, as ForEachStartCode finds them.
std::size_t CountStartCodes(const std::uint8_t* Data, std::size_t Size, std::uint8_t Code,
                            TStartCodeScan& Scan);

} // namespace vantrel
