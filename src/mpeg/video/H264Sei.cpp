#include "mpeg/video/H264Sei.h"

#include "mpeg/BitReader.h"

namespace vantrel {

std::vector<TSeiMessage> SeiMessages(std::span<const std::uint8_t> Rbsp)
{
    std::vector<TSeiMessage> Messages;
    std::size_t At = 1;
    // 7.3.2.3.1: the type, then the size, each a run of FF bytes and a last byte.
    const auto Value = [&](std::uint32_t& Out) {
        Out = 0;
        while (At < Rbsp.size() && Rbsp[At] == 0xFF) {
            Out += 255;
            ++At;
        }
        if (At >= Rbsp.size())
            return false;
        Out += Rbsp[At++];
        return true;
    };
    // The last byte holds the stop bit of the trailing bits.
    while (At < Rbsp.size() && !(At + 1 == Rbsp.size() && Rbsp[At] == 0x80)) {
        TSeiMessage Message;
        std::uint32_t Size = 0;
        if (!Value(Message.Type) || !Value(Size) || Rbsp.size() - At < Size)
            break;
        Message.Offset = At;
        Message.Size = Size;
        Messages.push_back(Message);
        At += Size;
    }
    return Messages;
}

std::optional<TRecoveryPoint> ParseRecoveryPoint(std::span<const std::uint8_t> Payload)
{
    TBitReader Bits(Payload);
    TRecoveryPoint Point;
    Point.RecoveryFrameCnt = Bits.UE();
    Point.ExactMatch = Bits.Flag();
    Point.BrokenLinkBit = Bits.Position();
    Point.BrokenLink = Bits.Flag();
    Point.ChangingSliceGroupIdc = static_cast<std::uint8_t>(Bits.Bits(2));
    if (!Bits.Ok())
        return std::nullopt;
    return Point;
}

std::optional<TPicTiming> ParsePicTiming(std::span<const std::uint8_t> Payload,
                                         const TSequenceParameterSet& Sps)
{
    TBitReader Bits(Payload);
    TPicTiming Timing;
    if (Sps.NalHrd || Sps.VclHrd) { // CpbDpbDelaysPresentFlag
        Timing.CpbRemovalDelay = Bits.Bits(Sps.CpbRemovalDelayLength);
        Timing.DpbOutputDelay = Bits.Bits(Sps.DpbOutputDelayLength);
    }
    if (Sps.PicStructPresent)
        Timing.PicStruct = static_cast<std::uint8_t>(Bits.Bits(4));
    if (!Bits.Ok())
        return std::nullopt;
    return Timing;
}

std::optional<int> PicStructFields(std::uint8_t PicStruct)
{
    // frame, top, bottom, top bottom, bottom top, top bottom top, bottom top
    // bottom, frame doubling, frame tripling
    static constexpr int Fields[] = {2, 1, 1, 2, 2, 3, 3, 4, 6};
    if (PicStruct >= std::size(Fields))
        return std::nullopt;
    return Fields[PicStruct];
}

} // namespace vantrel
