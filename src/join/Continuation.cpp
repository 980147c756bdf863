#include "join/Continuation.h"

#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"

#include <algorithm>
#include <vector>

namespace vantrel {

bool ClockContinues(std::optional<std::int64_t> FirstSCR,
                    const std::map<std::uint16_t, std::int64_t>& FirstDecode,
                    const std::map<std::uint16_t, std::int64_t>& LastDecode, std::int64_t ChannelFree,
                    std::int64_t FrameTicks)
{
    if (!FirstSCR || *FirstSCR < ChannelFree - FrameTicks || *FirstSCR > ChannelFree + ClockRate ||
        FirstDecode.empty())
        return false;
    return std::all_of(FirstDecode.begin(), FirstDecode.end(), [&](const auto& First) {
        const auto Last = LastDecode.find(First.first);
        if (Last == LastDecode.end()) // a stream the recording did not have
            return false;
        const std::int64_t Step = First.second - Last->second;
        return Step > 0 && Step <= ClockRate;
    });
}

std::optional<std::size_t> CutPacketRemainder(std::span<const std::uint8_t> Tail,
                                              std::span<const std::uint8_t> Head, bool HeadIsWholeFile)
{
    if (Tail.size() < 4 || Tail[0] != 0 || Tail[1] != 0 || Tail[2] != 1 || Tail[3] < PackStartCode)
        return std::nullopt;
    // The packet's first bytes, as far as its length needs them.
    std::vector<std::uint8_t> Start(Tail.begin(), Tail.end());
    Start.insert(Start.end(), Head.begin(), Head.begin() + std::min<std::size_t>(Head.size(), 16));
    std::size_t Length;
    if (Tail[3] == PackStartCode) {
        if (Start.size() < 5)
            return std::nullopt;
        // An MPEG-2 pack: '01', 14 bytes and its stuffing; MPEG-1's: 12.
        const bool Program = (Start[4] & 0xC0) == 0x40;
        if (Program && Start.size() < ProgramPackHeaderLength)
            return std::nullopt;
        Length = Program ? ProgramPackHeaderLength + (Start[13] & 0x07) : PackHeaderLength;
    } else {
        if (Start.size() < PacketPrefixLength)
            return std::nullopt;
        Length = PacketPrefixLength + ((Start[4] << 8) | Start[5]);
    }
    if (Length <= Tail.size() || Head.size() < Length - Tail.size())
        return std::nullopt;
    const std::size_t Missing = Length - Tail.size();
    // The rest of a packet holds no pack header: video cannot hold its start
    // code, sound only by a chance too small to weigh against a next file
    // that begins with junk and then a pack of its own, which would be lost.
    constexpr std::uint8_t PackCode[] = {0, 0, 1, PackStartCode};
    if (std::search(Head.begin(), Head.begin() + static_cast<std::ptrdiff_t>(Missing), std::begin(PackCode),
                    std::end(PackCode)) != Head.begin() + static_cast<std::ptrdiff_t>(Missing))
        return std::nullopt;
    // Then zeros at most (what fills a disc sector) and the next packet's
    // start code, or the file's end.
    std::size_t At = Missing;
    while (At < Head.size() && Head[At] == 0)
        ++At;
    if (At == Head.size())
        return HeadIsWholeFile ? std::optional(Missing) : std::nullopt;
    if (At - Missing >= 2 && Head[At] == 1 && At + 1 < Head.size() && Head[At + 1] >= PackStartCode)
        return Missing;
    return std::nullopt;
}

} // namespace vantrel
