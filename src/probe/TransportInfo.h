// What a transport stream holds: its programs with their channel names,
// every stream of them with its PID, type, format and languages, the video
// and sound of the first program whose pictures can be read, and its
// duration; all from a bounded walk of its head and tail, so that a
// recording of many gigabytes probes in milliseconds.
#pragma once

#include "io/ByteSource.h"
#include "probe/MPEGInfo.h"

#include <cstdint>

namespace vantrel {

// Fills Info (zeroed by the caller) for the transport stream Source holds,
// or raises an Exception that says why it cannot be used: "Unable to find
// the programs of this transport stream.", "Unable to find video stream",
// "Unable to read video settings", "This file's video is HEVC, which cannot
// be joined yet." (and so for the other codings than MPEG-1, MPEG-2 and
// H.264 video),
// "This file's video is scrambled and cannot be read."
void ProbeTransportStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration = true);

// The head walk ends this far into a file at the latest.
constexpr std::int64_t TransportHeadBytes = 16 << 20;

} // namespace vantrel
