// The limits of H.264's levels (ISO/IEC 14496-10, Table A-1) and the
// factors by profile that scale them (Table A-2): what a decoder of a
// stream's level holds, for the decoder model's coded-picture buffer.
#pragma once

#include "mpeg/video/H264.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vantrel {

struct TH264Level
{
    std::uint8_t LevelIdc;
    bool Is1b;             // level 1b: level_idc 11 with constraint_set3_flag, or 9
    std::uint32_t MaxMBPS; // macroblocks per second
    std::uint32_t MaxFS;   // macroblocks a frame
    std::uint32_t MaxDpbMbs;
    std::uint32_t MaxBR;  // in units of cpbBrVclFactor (or cpbBrNalFactor) bits per second
    std::uint32_t MaxCPB; // in units of cpbBrVclFactor (or cpbBrNalFactor) bits
};

constexpr std::array<TH264Level, 20> H264Levels = {{
    {10, false, 1485, 99, 396, 64, 175},
    {11, true, 1485, 99, 396, 128, 350},
    {11, false, 3000, 396, 900, 192, 500},
    {12, false, 6000, 396, 2376, 384, 1000},
    {13, false, 11880, 396, 2376, 768, 2000},
    {20, false, 11880, 396, 2376, 2000, 2000},
    {21, false, 19800, 792, 4752, 4000, 4000},
    {22, false, 20250, 1620, 8100, 4000, 4000},
    {30, false, 40500, 1620, 8100, 10000, 10000},
    {31, false, 108000, 3600, 18000, 14000, 14000},
    {32, false, 216000, 5120, 20480, 20000, 20000},
    {40, false, 245760, 8192, 32768, 20000, 25000},
    {41, false, 245760, 8192, 32768, 50000, 62500},
    {42, false, 522240, 8704, 34816, 50000, 62500},
    {50, false, 589824, 22080, 110400, 135000, 135000},
    {51, false, 983040, 36864, 184320, 240000, 240000},
    {52, false, 2073600, 36864, 184320, 240000, 240000},
    {60, false, 4177920, 139264, 696320, 240000, 240000},
    {61, false, 8355840, 139264, 696320, 480000, 480000},
    {62, false, 16711680, 139264, 696320, 800000, 800000},
}};

// The limits of the sequence's level; nothing for a level_idc the table lacks.
std::optional<TH264Level> H264LevelOf(const TSequenceParameterSet& Sps);

// cpbBrVclFactor and cpbBrNalFactor of Table A-2 by profile_idc: 1000 and
// 1200 for Baseline, Main and Extended, 1250 and 1500 for High, 3000 and 3600
// for High 10, 4000 and 4800 for the 4:2:2 and 4:4:4 profiles.
std::uint32_t CpbBrVclFactor(std::uint8_t ProfileIdc);
std::uint32_t CpbBrNalFactor(std::uint8_t ProfileIdc);

// The coded-picture buffer a decoder of the stream holds, in bits, for the
// whole byte stream (the NAL HRD): the size the sequence's HRD declares,
// else the most its level allows (MaxCPB x cpbBrNalFactor); 0 for an
// unknown level without an HRD.
std::uint64_t CpbSizeBits(const TSequenceParameterSet& Sps);
// The most bits per second its level allows the byte stream (MaxBR x
// cpbBrNalFactor); 0 for an unknown level.
std::uint64_t MaxBitRate(const TSequenceParameterSet& Sps);
// The frames its decoded picture buffer holds (A.3.1 h): MaxDpbMbs over the
// frame's macroblocks, at most 16; max_dec_frame_buffering where the VUI
// gives it. 16 for an unknown level.
std::uint32_t MaxDpbFrames(const TSequenceParameterSet& Sps);

} // namespace vantrel
