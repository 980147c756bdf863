// The system target decoder of a system stream, run from its bytes and the
// standards alone, without the reader or the joiner under test.
#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace vantrel::test {

// The system target decoder of ISO/IEC 11172-1 (2.4.2), run here from the
// bytes alone: each audio and video stream has a buffer of the size its PES
// STD fields (or, before one, the system header) declare; a packet's payload
// enters when its last byte arrives (as CheckClock times it), and each access
// unit (a picture with the headers before it; an audio frame) leaves at its
// decode time: the stamp of the packet in which it starts, else one frame
// after the one before. Late: access units whose last byte arrives after
// their decode time. Overflows: packets after which a buffer holds more than
// its size.
struct TDecoderModelCheck
{
    int Units = 0;
    int Late = 0;
    double WorstLate = 0; // seconds
    int Overflows = 0;
    double FirstOverflow = 0, FirstLate = 0;         // seconds of the clock, where one was found
    std::map<std::uint8_t, std::int64_t> Peak, Size; // bytes, by stream id
    std::string Text() const;                        // for failure messages
};
TDecoderModelCheck CheckDecoderModel(const TBytes& File);

// Bytes and 90 kHz ticks of the MPEG audio frame whose header is at H (four
// bytes), and of the AC-3 sync frame at H (five); 0 bytes when none is there.
std::pair<std::int64_t, double> AudioFrame(const std::uint8_t* H);
std::pair<std::int64_t, double> AC3Frame(const std::uint8_t* H);

} // namespace vantrel::test
