#include "mpeg/ps/SubStreams.h"

#include "mpeg/audio/AC3.h"
#include "mpeg/audio/DTS.h"

#include <algorithm>
#include <span>

namespace vantrel {

namespace {

// The length of the AC-3 or DTS frame whose sync word stands at Data (as the
// sub-stream's kind says), 0 for no frame header there.
std::size_t FrameAt(TSubStreamKind Kind, std::span<const std::uint8_t> Data)
{
    if (Kind == sskAC3) {
        const auto Header = DecodeAC3FrameHeader(Data);
        return Header ? Header->FrameLength : 0;
    }
    const auto Header = DecodeDTSFrameHeader(Data);
    return Header ? Header->FrameLength : 0;
}

} // namespace

std::optional<std::size_t> SubStreamFirstFrame(const std::uint8_t* Payload, std::size_t Length)
{
    if (Length < 4 || !IsSubStreamAudio(Payload[0]))
        return std::nullopt;
    const std::size_t Pointer = (Payload[2] << 8) | Payload[3];
    // LPCM's pointer counts the rest of its header too.
    const std::size_t At = 3 + Pointer;
    const TSubStreamKind Kind = SubStreamKind(Payload[0]);
    if (Pointer == 0 || Kind == sskLPCM)
        return Pointer == 0 || At >= Length ? std::nullopt : std::optional(At);
    // Where the payload ends inside the sync word, what it holds must agree.
    static constexpr std::uint8_t AC3Sync[] = {0x0B, 0x77}, DTSSync[] = {0x7F, 0xFE, 0x80, 0x01};
    const std::span<const std::uint8_t> Sync =
        Kind == sskAC3 ? std::span<const std::uint8_t>(AC3Sync) : std::span<const std::uint8_t>(DTSSync);
    const std::span<const std::uint8_t> Data(Payload, Length);
    if (At < Length &&
        std::equal(Data.begin() + At, Data.begin() + std::min(Length, At + Sync.size()), Sync.begin()))
        return At;
    // The pointer and the frames disagree (a cut copied by a muxer that kept
    // the pointer of a frame it left out): the first frame header that the
    // next one confirms, or that runs on past the payload, tells.
    for (std::size_t I = 4; I + 2 <= Length; ++I)
        if (const std::size_t Frame = FrameAt(Kind, Data.subspan(I)))
            if (I + Frame >= Length || FrameAt(Kind, Data.subspan(I + Frame)))
                return I;
    return std::nullopt;
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

} // namespace vantrel
