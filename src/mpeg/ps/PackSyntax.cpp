#include "mpeg/ps/PackSyntax.h"
#include "mpeg/StartCodes.h"

namespace vantrel {

void PatchMuxRate(std::uint8_t* Header, std::uint32_t MuxRate)
{
    // marker, 22 bits, marker
    Header[9] = static_cast<std::uint8_t>(0x80 | ((MuxRate >> 15) & 0x7F));
    Header[10] = static_cast<std::uint8_t>(MuxRate >> 7);
    Header[11] = static_cast<std::uint8_t>((MuxRate << 1) | 1);
}

void PatchProgramMuxRate(std::uint8_t* Header, std::uint32_t MuxRate)
{
    // 22 bits, two markers
    Header[10] = static_cast<std::uint8_t>(MuxRate >> 14);
    Header[11] = static_cast<std::uint8_t>(MuxRate >> 6);
    Header[12] = static_cast<std::uint8_t>((MuxRate << 2) | 3);
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
