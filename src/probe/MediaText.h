// The texts a person reads about a file: its kind, formats, duration and
// how it differs from the first file of a join, shared by the window and the
// command-line tool.
#pragma once

#include "probe/JoinRules.h"
#include "probe/MPEGInfo.h"

#include <cstdint>
#include <string>

namespace vantrel {

// The status a file shows against the first file: "OK", "Video Differ" or
// "Audio Differ".
const char* FormatMatchText(TFormatMatch Match);

// Text of the channel mode for people: "stereo", "joint stereo", ...
const char* ChannelModeName(std::uint8_t ChannelMode);

// Texts for people, shared by the window and the command-line tool.
// "h:mm:ss.cc"; empty for a duration the probe could not tell (0).
std::string DurationText(double Seconds);
// "Layer II 44.1 kHz stereo 192 kbit/s", "AC-3 48 kHz 5.1 448 kbit/s",
// "LPCM 48 kHz stereo 16 bit"; "none" without audio; "unknown format" for
// audio without a frame header. A transport stream gives every sound stream
// of its program, with its language: "Layer II 48 kHz stereo 192 kbit/s
// deu, AC-3 48 kHz 5.1 448 kbit/s eng".
std::string AudioText(const TMediaInfo& Info);
// "352 x 288 25.00 fps"; MPEG-2 adds its shape and version: "720 x 576
// 25.00 fps 16:9 MPEG-2" ("1:1" for square pixels).
std::string VideoText(const TMediaInfo& Info);
// What else MPEG-2 video tells: "Main profile at Main level, 4:2:0,
// interlaced"; empty for MPEG-1.
std::string VideoDetailText(const TMediaInfo& Info);
// "system stream", "program stream" (MPEG-2's), "transport stream" or
// "video stream".
std::string KindText(const TMediaInfo& Info);
// A transport stream's program for people: "program 1 \"Das Erste\"",
// "program 28106" without a name.
std::string ProgramText(const TProgramInfo& Program);
// One stream of a program: "PID 256: MPEG-2 video 720 x 576 25.00 fps",
// "PID 257: Layer II 48 kHz stereo 192 kbit/s, deu", "PID 259: DVB
// subtitles, deu eng", "PID 300: stream type 0x05".
std::string StreamText(const TStreamInfo& Stream);
// A transport stream's programs and streams, a line each: the program
// (with its PMT and PCR PIDs and the packet size), then its streams
// indented by two spaces; empty for other files.
std::string TransportText(const TMediaInfo& Info);
// Why Info differs from the reference, or empty when it does not:
// "Audio differs from the first file: 48 kHz mono vs 44.1 kHz stereo". A
// file that joins but whose pictures have another shape says so too: a
// warning, not a refusal ("Aspect ratio differs from the first file: ...").
std::string DifferenceText(const TMediaInfo& Reference, const TMediaInfo& Info);
// What tells Info's video or sound (whichever differs that matters) apart
// from the reference's: "352 x 240 at 29.97 fps vs 352 x 288 at 25.00 fps",
// "48 kHz mono vs 44.1 kHz stereo"; empty when they match.
std::string DifferenceDetail(const TMediaInfo& Reference, const TMediaInfo& Info);

} // namespace vantrel
