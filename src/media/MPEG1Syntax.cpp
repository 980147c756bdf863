#include "MPEG1Syntax.h"

#include <cstring>

namespace vantrel {

std::int64_t DecodeTimeStamp(const std::uint8_t* Field)
{
    const std::int64_t High = (Field[0] & 0x0F) >> 1;
    const std::int64_t Middle = ((Field[1] << 8) | Field[2]) >> 1;
    const std::int64_t Low = ((Field[3] << 8) | Field[4]) >> 1;
    return (High << 30) | (Middle << 15) | Low;
}

void EncodeTimeStamp(std::uint8_t* Field, std::uint8_t Prefix, std::int64_t Value)
{
    Field[0] = static_cast<std::uint8_t>(Prefix << 4 | 1);
    Field[2] = Field[4] = 1;
    PatchTimeStamp(Field, Value);
}

void PatchMuxRate(std::uint8_t* Header, std::uint32_t MuxRate)
{
    // marker, 22 bits, marker
    Header[9] = static_cast<std::uint8_t>(0x80 | ((MuxRate >> 15) & 0x7F));
    Header[10] = static_cast<std::uint8_t>(MuxRate >> 7);
    Header[11] = static_cast<std::uint8_t>((MuxRate << 1) | 1);
}

void PatchTimeStamp(std::uint8_t* Field, std::int64_t Value)
{
    // pppp vvv1, 8 bits, 7 bits + 1, 8 bits, 7 bits + 1: value bits 32..0.
    Field[0] = static_cast<std::uint8_t>((Field[0] & 0xF1) | (((Value >> 30) & 7) << 1));
    Field[1] = static_cast<std::uint8_t>(Value >> 22);
    Field[2] = static_cast<std::uint8_t>((Field[2] & 1) | ((Value >> 14) & 0xFE));
    Field[3] = static_cast<std::uint8_t>(Value >> 7);
    Field[4] = static_cast<std::uint8_t>((Field[4] & 1) | ((Value << 1) & 0xFE));
}

std::int64_t DecodeProgramSCR(const std::uint8_t* Field)
{
    const std::int64_t High = (Field[0] >> 3) & 0x07;
    const std::int64_t Middle = ((Field[0] & 0x03) << 13) | (Field[1] << 5) | (Field[2] >> 3);
    const std::int64_t Low = ((Field[2] & 0x03) << 13) | (Field[3] << 5) | (Field[4] >> 3);
    return (High << 30) | (Middle << 15) | Low;
}

void PatchProgramSCR(std::uint8_t* Field, std::int64_t Value)
{
    const auto Bits = [](std::int64_t V, int Shift, int Mask) {
        return static_cast<int>((V >> Shift) & Mask);
    };
    Field[0] = static_cast<std::uint8_t>((Field[0] & 0xC4) | (Bits(Value, 30, 7) << 3) | Bits(Value, 28, 3));
    Field[1] = static_cast<std::uint8_t>(Value >> 20);
    Field[2] =
        static_cast<std::uint8_t>((Field[2] & 0x04) | (Bits(Value, 15, 0x1F) << 3) | Bits(Value, 13, 3));
    Field[3] = static_cast<std::uint8_t>(Value >> 5);
    Field[4] = static_cast<std::uint8_t>((Field[4] & 0x07) | (Bits(Value, 0, 0x1F) << 3));
}

void PatchProgramMuxRate(std::uint8_t* Header, std::uint32_t MuxRate)
{
    // 22 bits, two markers
    Header[10] = static_cast<std::uint8_t>(MuxRate >> 14);
    Header[11] = static_cast<std::uint8_t>(MuxRate >> 6);
    Header[12] = static_cast<std::uint8_t>((MuxRate << 2) | 3);
}

std::optional<std::size_t> SubStreamFirstFrame(const std::uint8_t* Payload, std::size_t Length)
{
    if (Length < 4 || !IsSubStreamAudio(Payload[0]))
        return std::nullopt;
    const std::size_t Pointer = (Payload[2] << 8) | Payload[3];
    // LPCM's pointer counts the rest of its header too.
    const std::size_t At = 3 + Pointer;
    if (Pointer == 0 || At >= Length)
        return std::nullopt;
    return At;
}

std::optional<TLPCMFormat> DecodeLPCMFormat(const std::uint8_t* Payload, std::size_t Length)
{
    if (Length < 7 || SubStreamKind(Payload[0]) != sskLPCM)
        return std::nullopt;
    const std::uint8_t Quantisation = Payload[5] >> 6, Rate = (Payload[5] >> 4) & 3;
    if (Quantisation == 3 || Rate > 1)
        return std::nullopt;
    return TLPCMFormat{Rate ? 96000 : 48000, static_cast<std::uint8_t>(16 + 4 * Quantisation),
                       static_cast<std::uint8_t>((Payload[5] & 7) + 1)};
}

std::int32_t LPCMBitRate(const std::uint8_t* Payload, std::size_t Length)
{
    const std::optional<TLPCMFormat> Format = DecodeLPCMFormat(Payload, Length);
    return Format ? Format->SampleRate * Format->Bits * Format->Channels : 0;
}

std::size_t CountStartCodes(const std::uint8_t* Data, std::size_t Size, std::uint8_t Code,
                            TStartCodeScan& Scan)
{
    std::size_t Count = 0;
    ForEachStartCode(Data, Size, Scan, [&](std::size_t I) {
        Count += Data[I] == Code;
        return false;
    });
    return Count;
}

namespace {

constexpr std::size_t SystemHeaderFixedLength = 12;
constexpr std::size_t StreamBoundLength = 3;

std::uint32_t RateBound(const std::uint8_t* H)
{
    return (((H[6] & 0x7Fu) << 16) | (H[7] << 8) | H[8]) >> 1;
}

void SetRateBound(std::uint8_t* H, std::uint32_t Rate)
{
    H[6] = static_cast<std::uint8_t>((H[6] & 0x80) | ((Rate >> 15) & 0x7F));
    H[7] = static_cast<std::uint8_t>(Rate >> 7);
    H[8] = static_cast<std::uint8_t>((H[8] & 1) | ((Rate << 1) & 0xFE));
}

// The buffer size bound of the stream entry at E, in bytes.
std::uint32_t BufferBound(const std::uint8_t* E)
{
    const std::uint32_t Size = ((E[1] & 0x1Fu) << 8) | E[2];
    return Size * ((E[1] & 0x20) ? 1024 : 128);
}

void SetBufferBound(std::uint8_t* E, std::uint32_t Bytes)
{
    std::uint32_t Scale = (E[1] >> 5) & 1;
    if (Scale == 0 && (Bytes + 127) / 128 > 0x1FFF)
        Scale = 1;
    const std::uint32_t Unit = Scale ? 1024 : 128;
    const std::uint32_t Size = std::min<std::uint32_t>((Bytes + Unit - 1) / Unit, 0x1FFF);
    E[1] = static_cast<std::uint8_t>((E[1] & 0xC0) | (Scale << 5) | (Size >> 8));
    E[2] = static_cast<std::uint8_t>(Size);
}

// The stream entry for StreamId in a system header, or null.
const std::uint8_t* FindStreamBound(const std::uint8_t* H, std::size_t Length, std::uint8_t StreamId)
{
    for (std::size_t At = SystemHeaderFixedLength; Length - At >= StreamBoundLength && (H[At] & 0x80);
         At += StreamBoundLength)
        if (H[At] == StreamId)
            return H + At;
    return nullptr;
}

} // namespace

std::uint32_t SystemHeaderBufferBound(const std::uint8_t* H, std::size_t Length, std::uint8_t StreamId)
{
    if (Length < SystemHeaderFixedLength)
        return 0;
    constexpr std::uint8_t AllAudio = 0xB8, AllVideo = 0xB9;
    const std::uint8_t* Entry = FindStreamBound(H, Length, StreamId);
    if (!Entry)
        Entry = FindStreamBound(H, Length, StreamId >= FirstVideoStream ? AllVideo : AllAudio);
    return Entry ? BufferBound(Entry) : 0;
}

bool RaiseSystemHeaderBounds(std::uint8_t* Kept, std::size_t KeptLength, const std::uint8_t* Other,
                             std::size_t OtherLength, std::uint32_t MuxRate)
{
    if (KeptLength < SystemHeaderFixedLength)
        return false;
    std::uint8_t Before[SystemHeaderFixedLength];
    std::memcpy(Before, Kept, sizeof Before);
    bool Changed = false;

    std::uint32_t Rate = std::max(RateBound(Kept), MuxRate);
    if (Other && OtherLength >= SystemHeaderFixedLength) {
        Rate = std::max(Rate, RateBound(Other));
        // Audio bound: the top six bits of byte 9; video bound: the low five of byte 10.
        const std::uint8_t Audio = std::max(Kept[9] >> 2, Other[9] >> 2);
        const std::uint8_t Video = std::max(Kept[10] & 0x1F, Other[10] & 0x1F);
        Kept[9] = static_cast<std::uint8_t>((Audio << 2) | (Kept[9] & 3));
        Kept[10] = static_cast<std::uint8_t>((Kept[10] & 0xE0) | Video);
        for (std::size_t At = SystemHeaderFixedLength;
             KeptLength - At >= StreamBoundLength && (Kept[At] & 0x80); At += StreamBoundLength) {
            const std::uint8_t* Theirs = FindStreamBound(Other, OtherLength, Kept[At]);
            if (Theirs && BufferBound(Theirs) > BufferBound(Kept + At)) {
                SetBufferBound(Kept + At, BufferBound(Theirs));
                Changed = true;
            }
        }
    }
    if (Rate > RateBound(Kept))
        SetRateBound(Kept, Rate);
    return Changed || std::memcmp(Before, Kept, sizeof Before) != 0;
}

} // namespace vantrel
