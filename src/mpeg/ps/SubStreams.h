// The sub-streams of a DVD's private stream 1 (0xBD): AC-3, DTS and LPCM
// sound and subpictures, each behind a short header of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vantrel {

// Private stream 1 of a DVD: the first payload byte names a sub-stream,
// then comes that sub-stream's header. Sound (AC-3, DTS, LPCM) gives the
// count of frames that start in the packet and a pointer: where the first of
// them starts, counted from the pointer's last byte (0: none starts).
constexpr std::uint8_t PrivateStream1 = 0xBD;
enum TSubStreamKind : std::uint8_t
{
    sskOther,
    sskSubpicture, // 0x20-0x3F
    sskAC3,        // 0x80-0x87
    sskDTS,        // 0x88-0x8F
    sskLPCM        // 0xA0-0xA7
};
constexpr TSubStreamKind SubStreamKind(std::uint8_t SubId)
{
    return SubId >= 0x20 && SubId <= 0x3F   ? sskSubpicture
           : SubId >= 0x80 && SubId <= 0x87 ? sskAC3
           : SubId >= 0x88 && SubId <= 0x8F ? sskDTS
           : SubId >= 0xA0 && SubId <= 0xA7 ? sskLPCM
                                            : sskOther;
}
constexpr bool IsSubStreamAudio(std::uint8_t SubId)
{
    return SubStreamKind(SubId) >= sskAC3;
}
// The bytes before the elementary stream: the id and the sound's header.
constexpr std::size_t SubStreamHeaderLength(std::uint8_t SubId)
{
    return SubStreamKind(SubId) == sskLPCM ? 7 : IsSubStreamAudio(SubId) ? 4 : 1;
}
// Where the first frame that starts in a sound sub-stream's payload stands,
// from the payload's start; nothing when none starts in it or the pointer
// points past the payload. An AC-3 or DTS pointer that names no frame header
// gives way to the first frame header found in the payload.
std::optional<std::size_t> SubStreamFirstFrame(const std::uint8_t* Payload, std::size_t Length);
// Bits per second of an LPCM sub-stream, by its header (Payload: the PES
// payload); 0 for reserved codes.
std::int32_t LPCMBitRate(const std::uint8_t* Payload, std::size_t Length);
// LPCM's header fields: sample rate in Hz, bits per sample, channels.
struct TLPCMFormat
{
    std::int32_t SampleRate = 0;
    std::uint8_t Bits = 0;
    std::uint8_t Channels = 0;
};
std::optional<TLPCMFormat> DecodeLPCMFormat(const std::uint8_t* Payload, std::size_t Length);

} // namespace vantrel
