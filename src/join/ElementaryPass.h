// The passes of a join whose output is a video elementary stream: an
// elementary stream copied as it is, and the video of a program stream
// without its packs. Inside the output, sequence end codes would end the
// video for a player: all of them give way to zeros but for the last file's;
// a later file's first open group of pictures is marked broken.
#pragma once

#include "io/ByteSource.h"
#include "io/OutputFile.h"

#include <cstdint>
#include <functional>

namespace vantrel {

// Reports where the copy stands; true stops it.
using TPassProgress = std::function<bool(std::int64_t Position)>;

// Copies the elementary stream Source in chunks of CopyChunkSize; false when
// stopped.
bool CopyElementaryStream(TByteSource& Source, TOutputFile& Output, bool Later, bool Last,
                          const TPassProgress& Progress);
// Writes the payloads of video stream 0xE0 of a program stream (MPEG-2 packs
// and PES headers when ProgramStream) or MPEG-1 system stream.
bool CopyVideoPayload(TByteSource& Source, bool ProgramStream, TOutputFile& Output, bool Later, bool Last,
                      const TPassProgress& Progress);

constexpr std::uint32_t CopyChunkSize = 4096;

} // namespace vantrel
