// Whether a later file is the rest of the recording the output stops in:
// the halves of a recording split anywhere (a camcorder's or a recorder's
// pieces, a file cut with a tool) join back to what it was, byte for byte,
// their times kept as they are. Anything else joins as a file of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>

namespace vantrel {

// The later file's clock goes on where the output's channel is free
// (ChannelFree: muxers that wait for data leave gaps, so up to a second
// later, and a frame earlier for rounding), it has stamped streams, and
// every one of them goes on within a second after the same stream of the
// output stopped (LastDecode). Stamps are on the output's line, the later
// file not moved: FirstSCR its first pack's, FirstDecode each stream's first
// decode time.
bool ClockContinues(std::optional<std::int64_t> FirstSCR,
                    const std::map<std::uint16_t, std::int64_t>& FirstDecode,
                    const std::map<std::uint16_t, std::int64_t>& LastDecode, std::int64_t ChannelFree,
                    std::int64_t FrameTicks);

// A packet cut by the end of a file (Tail: its bytes from its start code
// on) goes on in the next file when that file's first bytes are exactly what
// it lacks: the length its header gives, less what Tail holds, and after
// them another packet (a start code of 0xBA or more, after zeros at most) or
// the file's end. The bytes the next file gives to it; nothing when its head (Head:
// as many of its first bytes as it has, up to a packet's length and four)
// does not complete it so.
std::optional<std::size_t> CutPacketRemainder(std::span<const std::uint8_t> Tail,
                                              std::span<const std::uint8_t> Head, bool HeadIsWholeFile);

// The most a packet can lack: its length field's largest value and its header.
constexpr std::size_t MaxPacketLength = 6 + 0xFFFF;

} // namespace vantrel
