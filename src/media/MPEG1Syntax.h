// The syntax of an MPEG-1 system stream (ISO/IEC 11172-1, 2.4.3) and the start
// codes of its video (ISO/IEC 11172-2, 2.4.2), named once: the reader, the
// joiner and the tests take their codes, layouts and time stamps from here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace vantrel {

// A start code is 00 00 01 and a code byte.
constexpr std::uint8_t PictureStartCode = 0x00;
constexpr std::uint8_t SequenceHeaderCode = 0xB3;
constexpr std::uint8_t SequenceEndCode = 0xB7;
constexpr std::uint8_t GroupStartCode = 0xB8;
constexpr std::uint8_t ExtensionStartCode = 0xB5;
constexpr std::uint8_t EndCode = 0xB9;
constexpr std::uint8_t PackStartCode = 0xBA;
constexpr std::uint8_t SystemHeaderCode = 0xBB;
// Stream ids of PES packets (codes 0xBC and above).
constexpr std::uint8_t PaddingStream = 0xBE;
constexpr std::uint8_t PrivateStream2 = 0xBF;
constexpr std::uint8_t FirstAudioStream = 0xC0;
constexpr std::uint8_t LastAudioStream = 0xDF;
constexpr std::uint8_t FirstVideoStream = 0xE0;
constexpr std::uint8_t LastVideoStream = 0xEF;

constexpr bool IsAudioStream(std::uint8_t StreamId)
{
    return StreamId >= FirstAudioStream && StreamId <= LastAudioStream;
}
constexpr bool IsVideoStream(std::uint8_t StreamId)
{
    return StreamId >= FirstVideoStream && StreamId <= LastVideoStream;
}

// Pack header: 00 00 01 BA, the SCR as a time stamp field with prefix '0010'
// (bytes 4-8), then marker, 22-bit mux rate in units of 50 bytes/s, marker
// (bytes 9-11).
constexpr std::uint32_t PackHeaderLength = 12;
constexpr std::uint32_t SCRFieldOffset = 4;
constexpr std::uint32_t MuxRateOffset = 9;
// An MPEG-2 program stream's pack header (ISO/IEC 13818-1, 2.5.3.3): 14 bytes
// and up to 7 of stuffing.
constexpr std::uint32_t ProgramPackHeaderLength = 14;
// Program stream packets without a PES header of their own (besides the
// padding and private stream 2 above).
constexpr std::uint8_t ProgramStreamMap = 0xBC;
constexpr std::uint8_t ProgramStreamDirectory = 0xFF;
// The SCR of a program stream's pack header (bytes 4-9) and an ESCR: two
// bits, then the 33-bit base and a 9-bit extension (27 MHz) between marker
// bits: 01vv v1vv | 8 | vvvvv1vv | 8 | vvvvv1ee | eeeeeee1.
constexpr std::uint32_t ProgramSCRLength = 6;
// The base, in ticks of the 90 kHz clock.
std::int64_t DecodeProgramSCR(const std::uint8_t* Field);
// Replaces the base and keeps every other bit, the extension included.
void PatchProgramSCR(std::uint8_t* Field, std::int64_t Value);
// The 22-bit mux rate of a program stream's pack header (bytes 10-12).
constexpr std::uint32_t DecodeProgramMuxRate(const std::uint8_t* Header)
{
    return (std::uint32_t{Header[10]} << 14) | (Header[11] << 6) | (Header[12] >> 2);
}
void PatchProgramMuxRate(std::uint8_t* Header, std::uint32_t MuxRate);

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
// points past the payload.
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
// Every PES packet and system header: 00 00 01 id, a 16-bit length of what follows.
constexpr std::uint32_t PacketPrefixLength = 6;

// Time stamps (SCR, PTS, DTS) count ticks of a 90 kHz clock modulo 2^33.
constexpr std::int64_t ClockRate = 90000;
constexpr std::int64_t ClockWrap = std::int64_t{1} << 33;
constexpr std::uint32_t TimeStampLength = 5;
// The 4-bit prefixes of a time stamp field.
constexpr std::uint8_t PTSPrefix = 0x2, PTSBeforeDTSPrefix = 0x3, DTSPrefix = 0x1;

// A 5-byte time stamp field: pppp vvv1 | vvvvvvvv | vvvvvvv1 | vvvvvvvv |
// vvvvvvv1, the 33 value bits (32..0) above the marker bits. Prefix and
// markers are not checked on reading.
std::int64_t DecodeTimeStamp(const std::uint8_t* Field);
// Writes the low 33 bits of Value with Prefix and all marker bits set.
void EncodeTimeStamp(std::uint8_t* Field, std::uint8_t Prefix, std::int64_t Value);
// Replaces the 33 value bits of a field and keeps its prefix and marker bits
// as they stand, so that a patched stream differs only in its time stamps.
void PatchTimeStamp(std::uint8_t* Field, std::int64_t Value);

// Value reduced to the clock's range [0, 2^33).
constexpr std::int64_t ClockValue(std::int64_t Value)
{
    return ((Value % ClockWrap) + ClockWrap) % ClockWrap;
}
// The signed distance from From to To on the wrapping clock, in
// [-2^32, 2^32): time stamps either side of a wrap are close, not 26 hours apart.
constexpr std::int64_t ClockDistance(std::int64_t From, std::int64_t To)
{
    const std::int64_t D = ClockValue(To - From);
    return D >= ClockWrap / 2 ? D - ClockWrap : D;
}

// The 22-bit mux rate of a pack header (its bytes 9-11).
constexpr std::uint32_t DecodeMuxRate(const std::uint8_t* Bytes)
{
    return (((Bytes[0] & 0x7Fu) << 16) | (Bytes[1] << 8) | Bytes[2]) >> 1;
}
// Writes MuxRate (22 bits) into the pack header that starts at Header.
void PatchMuxRate(std::uint8_t* Header, std::uint32_t MuxRate);
// Clock ticks that Bytes take to arrive at MuxRate (units of 50 bytes/s),
// rounded up; 0 for a rate of 0, which says nothing.
constexpr std::int64_t ArrivalTicks(std::int64_t Bytes, std::uint32_t MuxRate)
{
    if (MuxRate == 0 || Bytes <= 0)
        return 0;
    const std::int64_t Rate = std::int64_t{MuxRate} * 50;
    return (Bytes * ClockRate + Rate - 1) / Rate;
}

// Finds start codes a byte at a time, across buffer boundaries. A prefix is
// the last two zeros of any run of zeros, then 01; every byte, a code byte
// included, also counts towards the next prefix, so 00 00 01 00 00 01 B3 holds
// two start codes (codes 00 and B3).
class TStartCodeScan
{
public:
    // True when Byte is the code byte of a start code.
    bool Feed(std::uint8_t Byte)
    {
        const bool IsCode = m_AfterPrefix;
        m_AfterPrefix = Byte == 1 && m_Zeros >= 2;
        m_Zeros = Byte == 0 ? std::min(m_Zeros + 1, 2) : 0;
        return IsCode;
    }
    void Reset() { *this = TStartCodeScan{}; }

private:
    int m_Zeros = 0;
    bool m_AfterPrefix = false;
};

// Calls OnCode(Index) for the index of every code byte of a start code in
// Data, continuing a scan over earlier buffers (a start code may straddle two
// payloads), until OnCode returns true. Past the first bytes it looks only at
// the 01 bytes. A stopped scan cannot be continued.
template <typename TOnCode>
void ForEachStartCode(const std::uint8_t* Data, std::size_t Size, TStartCodeScan& Scan, TOnCode OnCode)
{
    // A code byte among the first four may have its prefix in an earlier buffer.
    const std::size_t Head = std::min<std::size_t>(Size, 4);
    for (std::size_t I = 0; I < Head; ++I)
        if (Scan.Feed(Data[I]) && OnCode(I))
            return;
    if (Size <= Head)
        return;
    // From here on every prefix lies inside Data: look at each 01 whose code
    // byte (at 4 or later) is in Data too.
    for (const std::uint8_t *Pos = Data + 3, *Last = Data + Size - 1; Pos < Last;) {
        const auto* One =
            static_cast<const std::uint8_t*>(std::memchr(Pos, 1, static_cast<std::size_t>(Last - Pos)));
        if (!One)
            break;
        if (One[-1] == 0 && One[-2] == 0 && OnCode(static_cast<std::size_t>(One + 1 - Data)))
            return;
        Pos = One + 1;
    }
    // What a scan carries over depends on the last three bytes only.
    Scan.Reset();
    for (std::size_t I = Size - 3; I < Size; ++I)
        Scan.Feed(Data[I]);
}

// Counts the start codes with code byte Code, as ForEachStartCode finds them.
std::size_t CountStartCodes(const std::uint8_t* Data, std::size_t Size, std::uint8_t Code,
                            TStartCodeScan& Scan);

// The system header (11172-1, 2.4.3.2): bytes 6-8 marker, 22-bit rate bound,
// marker; byte 9 audio bound (6 bits), fixed and CSPS flags; byte 10 audio and
// video lock flags, marker, video bound (5 bits); byte 11 reserved; then 3 bytes
// a stream: stream id, '11', STD buffer bound scale, 13-bit buffer size bound
// (units of 128 bytes for scale 0, 1024 for scale 1).
//
// Raises the bounds of the system header Kept (a whole packet) to cover what
// Other promises and a mux rate of MuxRate: the rate bound, the audio and video
// bounds and the buffer bound of every stream that both list. Nothing moves:
// the header keeps its length. True when a byte changed.
bool RaiseSystemHeaderBounds(std::uint8_t* Kept, std::size_t KeptLength, const std::uint8_t* Other,
                             std::size_t OtherLength, std::uint32_t MuxRate);
// The buffer size bound in bytes that the system header H (a whole packet)
// gives StreamId, by its own entry or that for all audio (0xB8) or all video
// (0xB9) streams; 0 when it gives none.
std::uint32_t SystemHeaderBufferBound(const std::uint8_t* H, std::size_t Length, std::uint8_t StreamId);

} // namespace vantrel
