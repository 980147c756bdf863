#include "mpeg/video/H264Levels.h"

#include <algorithm>

namespace vantrel {

std::optional<TH264Level> H264LevelOf(const TSequenceParameterSet& Sps)
{
    // Below High, level 1b is 11 with constraint_set3_flag; from High on, 9.
    const bool High = Sps.ProfileIdc != 66 && Sps.ProfileIdc != 77 && Sps.ProfileIdc != 88;
    const bool Is1b = Sps.LevelIdc == 9 || (Sps.LevelIdc == 11 && !High && Sps.Constraint(3));
    const std::uint8_t Idc = Sps.LevelIdc == 9 ? 11 : Sps.LevelIdc;
    for (const TH264Level& Level : H264Levels)
        if (Level.LevelIdc == Idc && Level.Is1b == Is1b)
            return Level;
    return std::nullopt;
}

std::uint32_t CpbBrVclFactor(std::uint8_t ProfileIdc)
{
    switch (ProfileIdc) {
    case 100:
    case 86:
    case 118:
    case 128: return 1250;
    case 110: return 3000;
    case 122:
    case 244:
    case 44: return 4000;
    default: return 1000;
    }
}

std::uint32_t CpbBrNalFactor(std::uint8_t ProfileIdc)
{
    // The byte stream's limits are 1.2 times the VCL's.
    return CpbBrVclFactor(ProfileIdc) * 6 / 5;
}

std::uint64_t CpbSizeBits(const TSequenceParameterSet& Sps)
{
    if (Sps.NalHrd)
        return Sps.NalHrd->CpbSize;
    const auto Level = H264LevelOf(Sps);
    return Level ? std::uint64_t{Level->MaxCPB} * CpbBrNalFactor(Sps.ProfileIdc) : 0;
}

std::uint64_t MaxBitRate(const TSequenceParameterSet& Sps)
{
    const auto Level = H264LevelOf(Sps);
    return Level ? std::uint64_t{Level->MaxBR} * CpbBrNalFactor(Sps.ProfileIdc) : 0;
}

std::uint32_t MaxDpbFrames(const TSequenceParameterSet& Sps)
{
    if (Sps.MaxDecFrameBuffering)
        return std::min<std::uint32_t>(*Sps.MaxDecFrameBuffering, 16);
    const auto Level = H264LevelOf(Sps);
    const std::uint64_t FrameMbs =
        std::uint64_t{Sps.WidthInMbs} * Sps.HeightInMapUnits * (Sps.FrameMbsOnly ? 1 : 2);
    if (!Level || FrameMbs == 0)
        return 16;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(Level->MaxDpbMbs / FrameMbs, 16));
}

} // namespace vantrel
