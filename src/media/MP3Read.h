// Finding the first valid MPEG audio frame header in gathered audio payload.
#pragma once

#include "MP3Utils.h"
#include "Streams.h"

namespace vantrel {

// Tests every byte offset from the stream's position on. True at the first
// offset whose four bytes DecodeAudioFrameHeader accepts; Header then holds
// it and the stream stands just after those four bytes.
bool FindAudioFrameHeader(TMemoryStream& Stream, TAudioFrameHeader& Header);

} // namespace vantrel
