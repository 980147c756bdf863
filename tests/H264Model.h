// What the suite's transport decoder model needs of an H.264 stream (stream
// type 0x1B), read from its bytes and ISO/IEC 14496-10 alone (not the
// core's reader, so that it can judge it): where its access units stand and
// the buffers of the T-STD for AVC video (ISO/IEC 13818-1, 2.14.3.1).
#pragma once

#include "TestSupport.h"

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace vantrel::test {

// The access units of an H.264 byte stream in decode order: where each
// starts (its first NAL unit's start code) and where its first slice does.
// Units begin at their delimiters where the stream has them, else at the
// first slice of a picture (first_mb_in_slice 0) or the SEI and parameter
// sets just before it (7.4.1.2.3).
std::vector<std::pair<std::size_t, std::size_t>> H264UnitRanges(const TBytes& ES);

// The T-STD's rates (bytes a second) and sizes (bytes) for the stream's
// first sequence parameter set: Rmax = cpbBrNalFactor x MaxBR of its level
// (Tables ); Rx, the transport buffer's leak, and Rbx, the
// multiplex buffer's into the elementary buffer, 1.2 Rmax; EBS the NAL
// HRD's coded-picture buffer where the sequence declares one, else the
// level's most (cpbBrNalFactor x MaxCPB); MBS = BSmux + BSoh + the level's
// most - EBS. Nothing without a sequence parameter set of a known level.
struct TH264Buffers
{
    double Rx = 0, Rbx = 0, MBS = 0, EBS = 0;
};
std::optional<TH264Buffers> H264Buffers(const TBytes& ES);

} // namespace vantrel::test
