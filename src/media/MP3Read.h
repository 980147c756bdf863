// Finding the first MPEG audio frame header in gathered audio payload.
#pragma once

#include "MP3Utils.h"

#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

// Searches every byte offset of Data for a frame header
// that the next one confirms: it must stand where this frame's length says,
// with the same version, layer, sampling rate and channel mode. A bit pattern
// inside a frame decodes as a header far too often to be trusted alone. When
// no header is confirmed, the first one whose successor would lie past the
// end of the data is taken (a lone last frame). Where the header found
// starts, with Header holding it; nothing when none was.
std::optional<std::size_t> FindAudioFrameHeader(std::span<const std::uint8_t> Data,
                                                TAudioFrameHeader& Header);

// Where the first frame of the stream that Like describes (same version,
// layer, sampling rate and channel mode) starts in Data, confirmed by the
// next frame's header when that lies within Data; Size when none does.
std::size_t FindFrameOf(const TAudioFrameHeader& Like, const std::uint8_t* Data, std::size_t Size);

} // namespace vantrel
