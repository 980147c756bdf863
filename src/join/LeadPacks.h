// A later file's first packs as its joint's planner weighs them: where they
// stand, when they arrive on their own clock moved by the file's offset,
// what of each stream they carry, the units those bytes make and the
// buffers' sizes the file declares.
#pragma once

#include "join/JointPlanner.h"
#include "join/MPEGTimeCorrect.h"
#include "mpeg/ps/ProgramStreamReader.h"

#include <cstdint>
#include <map>
#include <vector>

namespace vantrel {

struct TLeadPacks
{
    std::vector<TLeadPack> Packs;
    std::map<std::uint8_t, std::vector<TAccessUnit>> Units;
    std::map<std::uint8_t, std::uint32_t> Sizes;
    // The packs are all the file has.
    bool ToEnd = false;
    // Every pack one disc sector (a VCD's or SVCD's 2324 bytes, a DVD's
    // 2048), whose rate a player's drive fixes.
    bool FixedRate = false;
};

// Reads ahead from where Reader stands (and comes back there), on the file's
// line Line: whole packs only, up to 2 MiB or 1024 packs. Keeps: the file's
// system headers are the kept ones (else a pack of them is padding).
TLeadPacks ReadLeadPacks(TProgramStreamReader& Reader, TFileLine Line, std::int64_t FrameTicks, bool Keeps);

} // namespace vantrel
