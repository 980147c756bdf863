// The SEI messages of H.264 (ISO/IEC 14496-10, 7.3.2.3 and Annex D) that a
// join reads: the recovery point, where a stream may be entered without an
// IDR picture and whose broken link flag a join sets, and the picture
// timing's pic_struct, which says how many fields a picture shows for.
#pragma once

#include "mpeg/video/H264.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantrel {

constexpr std::uint32_t SeiBufferingPeriod = 0;
constexpr std::uint32_t SeiPicTiming = 1;
constexpr std::uint32_t SeiRecoveryPoint = 6;

// One message of an SEI unit: its payloadType, and where its payload stands
// in the unit's RBSP bytes.
struct TSeiMessage
{
    std::uint32_t Type = 0;
    std::size_t Offset = 0;
    std::size_t Size = 0;
};
// Rbsp: an SEI unit from its header byte. Its messages up to the trailing
// bits; a message whose payload runs past the end ends the list.
std::vector<TSeiMessage> SeiMessages(std::span<const std::uint8_t> Rbsp);

// D.1.7 / D.2.7.
struct TRecoveryPoint
{
    std::uint32_t RecoveryFrameCnt = 0;
    bool ExactMatch = false;
    bool BrokenLink = false;
    std::uint8_t ChangingSliceGroupIdc = 0;
    std::size_t BrokenLinkBit = 0; // from the payload's first bit
};
std::optional<TRecoveryPoint> ParseRecoveryPoint(std::span<const std::uint8_t> Payload);

// D.1.2 / D.2.2, up to pic_struct. Sps: the picture's sequence parameter
// set, which says which fields are there and how long the delays are.
struct TPicTiming
{
    std::optional<std::uint32_t> CpbRemovalDelay, DpbOutputDelay;
    std::optional<std::uint8_t> PicStruct;
};
std::optional<TPicTiming> ParsePicTiming(std::span<const std::uint8_t> Payload,
                                         const TSequenceParameterSet& Sps);

// How many fields a picture shows for by its pic_struct (Table D-1): 1 for a
// field, 2 for a frame or a field pair, 3 when a field repeats, 4 and 6 for
// frame doubling and tripling; nothing for reserved values.
std::optional<int> PicStructFields(std::uint8_t PicStruct);

} // namespace vantrel
