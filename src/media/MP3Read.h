// Finding the first MPEG audio frame header in gathered audio payload.
#pragma once

#include "MP3Utils.h"
#include "Streams.h"

namespace vantrel {

// Searches every byte offset from the stream's position on for a frame header
// that the next one confirms: it must stand where this frame's length says,
// with the same version, layer, sampling rate and channel mode. A bit pattern
// inside a frame decodes as a header far too often to be trusted alone. When
// no header is confirmed, the first one whose successor would lie past the
// end of the data is taken (a lone last frame). True when found; Header then
// holds it and the stream stands just after its four bytes.
bool FindAudioFrameHeader(TMemoryStream& Stream, TAudioFrameHeader& Header);

} // namespace vantrel
