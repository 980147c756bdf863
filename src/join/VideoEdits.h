// The few bytes a join changes in what it passes on: end codes that would
// end the joined stream early, and the flag that tells a decoder a later
// file's first pictures lost what they were predicted from.
#pragma once

#include "mpeg/video/H264.h"

#include <cstddef>
#include <cstdint>

namespace vantrel {

// End codes (00 00 01 B9) between the packets of an input would end the
// joined stream there for a player: they give way to four other bytes,
// which keeps every pack's size.
void BlankEndCodes(std::uint8_t* Data, std::size_t Size);

// Sequence end codes (00 00 01 B7) of a video stream would end the video for
// a player wherever they stand: inside a joined stream they become zeros,
// the stuffing any start code may follow. Blanks every one that starts in
// Data's first Size bytes, reading on up to Available (>= Size) for one that
// runs past them; returns how many bytes after Size belong to one blanked,
// which the caller zeroes in the bytes that follow.
std::size_t BlankSequenceEnds(std::uint8_t* Data, std::size_t Size, std::size_t Available);

// Where the first group of pictures of a later file starts from a picture of
// the clip before it in the input (closed_gop = 0), that picture is not in
// the output: broken_link tells decoders to drop the B-pictures that would be
// predicted from it (ISO/IEC 11172-2, 2.4.3.4). True when the group header
// was found in Data.
bool MarkBrokenLink(std::uint8_t* Data, std::size_t Size);

// Where a later file's H.264 video opens with pictures that refer to
// pictures before it (an open GOP, LeadingPictures), its recovery point
// message's broken_link_flag tells decoders to drop them (ISO/IEC 14496-10,
// D.2.7). Data holds Size bytes of the stream from its byte Offset on;
// Flag says where the flag stands in the stream (TH264Unit::BrokenLink).
// The flag is set only where that changes nothing else a decoder reads:
// not where Flag says setting it would (Settable), nor where the bytes
// around it in Data would then begin or end a start code or an emulation
// prevention byte (00 00 00 to 00 00 03) that they did not before.
enum TBrokenLinkEdit
{
    blNotHere, // the flag's byte is not in Data
    blSet,
    blRefused
};
TBrokenLinkEdit MarkH264BrokenLink(std::uint8_t* Data, std::size_t Size, std::int64_t Offset,
                                   const TFlagPosition& Flag);

} // namespace vantrel
