// Whether the output's file system has room for a join, asked before
// anything is written: a join that would fill the disk fails at once and
// leaves the disk as it was.
#pragma once

#include "probe/MPEGInfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// The bytes a join of Inputs can write at most: each stream's size, but
// for what of a sparse file its disk does not hold (zeros, of which a join
// keeps no more than a gap between packets).
std::int64_t BytesToWrite(const std::vector<TInputRecord>& Inputs);

// Raises "Unable to write file %s" with the reason when the file system that
// OutputFileName lands on has less room than Needed. A pipe, a device, or a
// file system that tells no room (some network and FUSE mounts) is not asked.
void RefuseWithoutRoom(const std::string& OutputFileName, std::int64_t Needed);

} // namespace vantrel
